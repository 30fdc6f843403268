// Drawing of the face model: the deformed textured render mesh, then the overlays chosen
// by the viewer's flags (control mesh, attachments, hinting samples). Every overlay saves
// the GL switches it changes and restores them, but for one: the control-mesh overlay
// leaves blending off whatever it found, because the face and the overlays after it are
// drawn unblended (the teeth turn blending on for themselves). The switches are read and
// set one by one, in the order the drawing tests check call by call: glPushAttrib would
// also bring blending back.
#include "draw/mesh_draw.h"
#include "draw/point_overlay.h"
#include "face/draw_flags.h"
#include "face/face_model.h"
#include "geometry/patches.h"

#include <GL/gl.h>

namespace {

// Each control-mesh edge is drawn as its cubic boundary curve in this many segments.
constexpr int edgeCurveSegments = 5;
constexpr float edgeCurveStep = 0.2f;
// Overlay point size in pixels.
constexpr float overlayPointSize = 2.0f;

void drawPoint(const Vector3& p) {
    glBegin(GL_POINTS);
    glVertex3fv(&p.x);
    glEnd();
}

void drawLine(const Vector3& p, const Vector3& q) {
    glBegin(GL_LINES);
    glVertex3fv(&p.x);
    glVertex3fv(&q.x);
    glEnd();
}

// The control mesh: every edge as its boundary curve, and the translucent tessellation of
// the current surface, both blended over everything without depth test or lighting.
void drawControlMeshOverlay(FaceModel& face, const Vector3* controlPoints) {
    face.tessellateSurface(tessellationLevel);

    const bool depth = isOn(GL_DEPTH_TEST), culling = isOn(GL_CULL_FACE),
               lighting = isOn(GL_LIGHTING), blending = isOn(GL_BLEND),
               texturing = isOn(GL_TEXTURE_2D);
    GLint blendSource = GL_ONE, blendDestination = GL_ZERO;
    glGetIntegerv(GL_BLEND_SRC, &blendSource);
    glGetIntegerv(GL_BLEND_DST, &blendDestination);
    if (depth)
        glDisable(GL_DEPTH_TEST);
    if (culling)
        glDisable(GL_CULL_FACE);
    if (lighting)
        glDisable(GL_LIGHTING);
    if (texturing)
        glDisable(GL_TEXTURE_2D);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    if (!blending)
        glEnable(GL_BLEND);

    glColor4f(0.2f, 0.2f, 0.0f, 0.33f);
    glBegin(GL_LINES);
    for (int32_t e = 0; e < face.edgeCount; ++e) {
        const Edge& edge = face.edges[e];
        const Vector3& Pa = controlPoints[edge.a];
        const Vector3& Pb = controlPoints[edge.b];
        Vector3 C1, C2;
        edgeInnerPoints(C1, C2, Pa, face.controlNormals[edge.a], Pb, face.controlNormals[edge.b],
                        face.edgeNormals[e]);
        float t = 0.0f;
        Vector3 X, Y;
        evaluateCubicCurve(X, Pa, C1, C2, Pb, t);
        for (int segment = 0; segment < edgeCurveSegments; ++segment) {
            t = t + edgeCurveStep;
            evaluateCubicCurve(Y, Pa, C1, C2, Pb, t);
            glVertex3fv(&X.x);
            glVertex3fv(&Y.x);
            X = Y;
        }
    }
    glEnd();

    glColor4f(0.8f, 0.8f, 0.0f, 0.33f);
    glEnableClientState(GL_VERTEX_ARRAY);
    glEnableClientState(GL_NORMAL_ARRAY);
    glVertexPointer(3, GL_FLOAT, 0, face.surfacePositions.get());
    glNormalPointer(GL_FLOAT, 0, face.surfaceNormals.get());
    glDrawElements(GL_TRIANGLES, 3 * face.surfaceTriangleCount, GL_UNSIGNED_INT,
                   face.surfaceTriangles.get());

    // Blending ends off: the face is drawn with blending off.
    glDisable(GL_BLEND);
    glDisableClientState(GL_NORMAL_ARRAY);
    glDisableClientState(GL_VERTEX_ARRAY);
    glBlendFunc(static_cast<GLenum>(blendSource), static_cast<GLenum>(blendDestination));
    if (texturing)
        glEnable(GL_TEXTURE_2D);
    if (lighting)
        glEnable(GL_LIGHTING);
    if (culling)
        glEnable(GL_CULL_FACE);
    if (depth)
        glEnable(GL_DEPTH_TEST);
}

// Attachments: for an attached vertex a green point at its attachment point on the current
// surface and a dark red line from there to the vertex; a red point at every vertex.
void drawAttachmentsOverlay(const FaceModel& face) {
    const PointOverlayState saved = beginPointOverlay(overlayPointSize);
    for (int32_t i = 0; i < face.renderVertexCount; ++i) {
        const Attachment& a = face.attachments[i];
        const Vector3& position = face.renderPositions[i];
        Vector3 Q;
        SubPatchFrame frame;
        if (a.subPatch >= 0 && face.evaluateFrame(Q, frame, a.subPatch, a.u, a.v)) {
            glColor3f(0.0f, 1.0f, 0.0f);
            drawPoint(Q);
            glColor3f(0.8f, 0.0f, 0.0f);
            drawLine(Q, position);
        }
        glColor3f(1.0f, 0.0f, 0.0f);
        drawPoint(position);
    }
    endPointOverlay(saved);
}

// Hinting samples of the rest pose: a blue point each and its unit normal as a line.
void drawHintingSamplesOverlay(const FaceModel& face) {
    const PointOverlayState saved = beginPointOverlay(overlayPointSize);
    for (int32_t i = 0; i < face.sampleCount; ++i) {
        const Vector3& p = face.samplePositions[i];
        glColor3f(0.0f, 0.0f, 1.0f);
        drawPoint(p);
        glColor3f(0.0f, 0.0f, 0.8f);
        drawLine(p, p + face.sampleNormals[i]);
    }
    endPointOverlay(saved);
}

} // namespace

void FaceModel::draw(const Vector3* controlPoints, uint32_t drawFlags) {
    update(renderPositions.get(), renderNormals.get(), controlPoints);

    // The textured render mesh, with whatever texture, lighting and material are set.
    drawTexturedMesh(renderPositions.get(), renderNormals.get(), renderTexCoords.get(),
                     renderTriangles.get(), renderTriangleCount);

    if (drawFlags & drawControlMesh)
        drawControlMeshOverlay(*this, controlPoints);
    if (drawFlags & drawAttachments)
        drawAttachmentsOverlay(*this);
    if (drawFlags & drawHintingSamples)
        drawHintingSamplesOverlay(*this);
}
