// face-poser's frame: face-viewer's frame, with the face in its binding colours under "w",
// the control points that face away or that the surface hides dimmed, the shown point enlarged, and
// text in window pixels. Whatever is switched here is saved and restored with glPushAttrib.
#include "tools/poser/poser.h"

#include "draw/point_overlay.h"
#include "io/image_file.h"
#include "io/messages.h"
#include "tools/common/binding_colour.h"
#include "tools/common/pose_mix.h"

#include <GL/gl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

constexpr float hiddenPointColour[3] = {0.35f, 0.0f, 0.0f};
constexpr float pickedPointColour[3] = {0.0f, 1.0f, 1.0f};
// A region's points from the edge (weight near 0) to the centre (1): blue to yellow.
constexpr float regionEdgeColour[3] = {0.2f, 0.3f, 1.0f};
constexpr float regionCentreColour[3] = {1.0f, 1.0f, 0.0f};
// The mix panel's bar: one character a step of weight, from the lowest weight to the highest.
constexpr int32_t mixBarLength =
    int32_t((highestMixWeight - lowestMixWeight) * float(mixStepsPerUnit));
// The mix panel's rows of poses at most, around the chosen one.
constexpr int32_t mixRows = 16;
constexpr float textColour[3] = {1.0f, 1.0f, 1.0f};
constexpr int32_t textMargin = 10; // pixels from the window's edges
constexpr float panelAlpha = 0.6f;
// The legend's colour bar and the unattached swatch, in pixels.
constexpr int32_t legendBarWidth = 160, legendBarHeight = 12, legendSwatchGap = 24;
// Pulls the binding colours towards the camera by a little more than the depth that the
// textured face drawn next with the same vertices may differ by.
constexpr float bindingOffsetFactor = -1.0f, bindingOffsetUnits = -2.0f;
constexpr int32_t maxShotNumber = 999;

// The face in its binding colours, lit, drawn before face-viewer's scene draws the textured
// face from the same vertices: the polygon offset puts it in front, so the textured face fails
// the depth test wherever this one shows, while the overlays, props and dots come on top as
// in face-viewer.
void drawBindingColours(const Poser& poser, Scene& scene) {
    FaceModel& face = *scene.faceModel;
    face.update(face.renderPositions.get(), face.renderNormals.get(), scene.controlPoints.get());
    glPushAttrib(GL_ENABLE_BIT | GL_CURRENT_BIT | GL_LIGHTING_BIT | GL_POLYGON_BIT);
    glPushClientAttrib(GL_CLIENT_VERTEX_ARRAY_BIT);
    glDisable(GL_TEXTURE_2D);
    glColorMaterial(GL_FRONT_AND_BACK, GL_AMBIENT_AND_DIFFUSE);
    glEnable(GL_COLOR_MATERIAL);
    glEnable(GL_POLYGON_OFFSET_FILL);
    glPolygonOffset(bindingOffsetFactor, bindingOffsetUnits);
    glEnableClientState(GL_VERTEX_ARRAY);
    glEnableClientState(GL_NORMAL_ARRAY);
    glEnableClientState(GL_COLOR_ARRAY);
    glVertexPointer(3, GL_FLOAT, 0, face.renderPositions.get());
    glNormalPointer(GL_FLOAT, 0, face.renderNormals.get());
    glColorPointer(3, GL_FLOAT, 0, poser.bindingRgb.get());
    glDrawElements(GL_TRIANGLES, 3 * face.renderTriangleCount, GL_UNSIGNED_INT,
                   face.renderTriangles.get());
    glPopClientAttrib();
    glPopAttrib();
}

// facing[i] = 1 where control point i's normal points towards the eye; visible[i] = 1 where
// it faces the eye and nothing drawn so far in the frame (the face, the teeth, the eyes) lies
// in front of it, along its line of sight, by more than hiddenDepthTolerance: its pixel's
// depth is read back from the depth buffer (one read of the rectangle around the points) and
// turned into a distance along the view axis.
void markVisible(uint8_t* facing, uint8_t* visible, const Vector3* points, const Vector3* normals,
                 int32_t count, const Camera& camera, int32_t width, int32_t height) {
    const Vector3 eye = {camera.pose.m[12], camera.pose.m[13], camera.pose.m[14]};
    std::vector<int32_t> px(size_t(count), -1), py(size_t(count), -1);
    int32_t x0 = width, y0 = height, x1 = -1, y1 = -1;
    for (int32_t i = 0; i < count; ++i) {
        visible[i] = facing[i] = dot(normals[i], eye - points[i]) > 0.0f ? 1 : 0;
        const Vector4 e = camera.view * Vector4{points[i].x, points[i].y, points[i].z, 1.0f};
        if (!visible[i] || !(-e.z > camera.zNear))
            continue;
        const Vector4 ndc = camera.project({points[i].x, points[i].y, points[i].z, 1.0f});
        const float fx = (ndc.x + 1.0f) * 0.5f * float(width);
        const float fy = (ndc.y + 1.0f) * 0.5f * float(height);
        if (!(fx >= 0.0f && fx < float(width) && fy >= 0.0f && fy < float(height)))
            continue; // off the window: nothing there to hide it
        px[size_t(i)] = int32_t(fx);
        py[size_t(i)] = int32_t(fy);
        x0 = std::min(x0, px[size_t(i)]), x1 = std::max(x1, px[size_t(i)]);
        y0 = std::min(y0, py[size_t(i)]), y1 = std::max(y1, py[size_t(i)]);
    }
    if (x1 < x0)
        return;
    const int32_t w = x1 - x0 + 1, h = y1 - y0 + 1;
    std::vector<float> depth(size_t(w) * size_t(h));
    glPushClientAttrib(GL_CLIENT_PIXEL_STORE_BIT);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(x0, y0, w, h, GL_DEPTH_COMPONENT, GL_FLOAT, depth.data());
    glPopClientAttrib();
    const float n = camera.zNear, f = camera.zFar;
    for (int32_t i = 0; i < count; ++i) {
        if (px[size_t(i)] < 0)
            continue;
        const float d = depth[size_t(py[size_t(i)] - y0) * size_t(w) + size_t(px[size_t(i)] - x0)];
        if (d >= 1.0f)
            continue; // nothing drawn at the point's pixel
        // The window depth back to a distance along the view axis (the perspective divide
        // undone), against the point's own.
        const float ndcZ = 2.0f * d - 1.0f;
        const float surface = 2.0f * f * n / ((f + n) - ndcZ * (f - n));
        const Vector4 e = camera.view * Vector4{points[i].x, points[i].y, points[i].z, 1.0f};
        if (-e.z > surface + hiddenDepthTolerance)
            visible[i] = 0;
    }
}

// Over face-viewer's red dots: the points facing away in dark red; the region's points (and
// their mirror images) larger, by weight from blue to yellow; the shown one (and its partner
// while mirroring) larger still, cyan.
void drawPointMarks(const Poser& poser, const Scene& scene) {
    const Vector3* points = scene.controlPoints.get();
    const PointOverlayState saved = beginPointOverlay(controlPointDotSize);
    glColor3fv(hiddenPointColour);
    glBegin(GL_POINTS);
    for (int32_t i = 0; i < scene.controlPointCount; ++i)
        if (!poser.visible[i])
            glVertex3fv(&points[i].x);
    glEnd();
    const int32_t* partners = poser.mirrorDrag ? poser.pairs.partners.get() : nullptr;
    const int32_t centre = poser.regionCentre;
    if (centre >= 0 && poser.regionSteps > 0) {
        glPointSize(regionPointSize);
        glBegin(GL_POINTS);
        for (int32_t i = 0; i < scene.controlPointCount; ++i) {
            const float w =
                std::max(poser.regionWeights[i],
                         partners && partners[i] >= 0 ? poser.regionWeights[partners[i]] : 0.0f);
            if (w <= 0.0f)
                continue;
            float rgb[3];
            for (int c = 0; c < 3; ++c)
                rgb[c] = regionEdgeColour[c] + w * (regionCentreColour[c] - regionEdgeColour[c]);
            glColor3fv(rgb);
            glVertex3fv(&points[i].x);
        }
        glEnd();
    }
    if (poser.shownPoint >= 0) {
        glPointSize(pickedPointSize);
        glColor3fv(pickedPointColour);
        glBegin(GL_POINTS);
        glVertex3fv(&points[poser.shownPoint].x);
        if (partners && partners[poser.shownPoint] >= 0)
            glVertex3fv(&points[partners[poser.shownPoint]].x);
        glEnd();
    }
    endPointOverlay(saved);
}

// Drawing in window pixels (origin at the bottom left) over the scene, unlit, untextured,
// without depth test; endWindowOverlay puts back the matrices and switches.
void beginWindowOverlay(int32_t width, int32_t height) {
    glPushAttrib(GL_ENABLE_BIT | GL_CURRENT_BIT | GL_TRANSFORM_BIT | GL_COLOR_BUFFER_BIT);
    glDisable(GL_LIGHTING);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_TEXTURE_2D);
    glDisable(GL_CULL_FACE);
    glDisable(GL_BLEND);
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    glOrtho(0.0, width, 0.0, height, -1.0, 1.0);
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();
}

void endWindowOverlay() {
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
    glPopMatrix();
    glPopAttrib();
}

void textAt(const Poser& poser, int32_t x, int32_t y, const char* text) {
    glRasterPos2i(x, y);
    poser.drawText(text);
}

// A dark translucent panel behind text, so that it reads over the face and the cube.
void drawPanel(int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glColor4f(0.0f, 0.0f, 0.0f, panelAlpha);
    glRecti(x0, y0, x1, y1);
    glDisable(GL_BLEND);
}

// The legend of "w" at the bottom left: the amplification scale as a bar from 1 to 3 (two
// quads, the colours at the scale's stops, which GL interpolates linearly as the scale
// does), swatches for above 3 and for unattached vertices, and their labels.
void drawLegend(const Poser& poser) {
    const int32_t x = textMargin, y = textMargin + textLineHeight;
    const float* at = amplificationStopValues;
    const auto barX = [&](float a) {
        return x + int32_t(float(legendBarWidth) * (a - at[0]) / (at[2] - at[0]));
    };
    const char* const labels[2] = {"above 3", "unattached"};
    const float* swatchColours[2] = {spikeBindingColour, unmovedBindingColour};
    int32_t swatch[2], right = x + legendBarWidth;
    for (int k = 0; k < 2; ++k) {
        swatch[k] = right + legendSwatchGap;
        right = swatch[k] + legendBarHeight + 6 + int32_t(std::strlen(labels[k])) * textGlyphWidth;
    }
    drawPanel(0, 0, right + textMargin, y + legendBarHeight + 5 + textLineHeight);
    glBegin(GL_QUAD_STRIP);
    for (int stop = 0; stop < 3; ++stop) {
        glColor3fv(amplificationStops[stop]);
        glVertex2i(barX(at[stop]), y);
        glVertex2i(barX(at[stop]), y + legendBarHeight);
    }
    glEnd();
    for (int k = 0; k < 2; ++k) {
        glColor3fv(swatchColours[k]);
        glRecti(swatch[k], y, swatch[k] + legendBarHeight, y + legendBarHeight);
    }
    if (!poser.drawText)
        return;
    glColor3fv(textColour);
    textAt(poser, x, y + legendBarHeight + 5, "amplification: move per unit move of a point");
    textAt(poser, barX(at[0]), textMargin, "1");
    textAt(poser, barX(at[1]) - textGlyphWidth, textMargin, "1.5");
    textAt(poser, barX(at[2]) - textGlyphWidth, textMargin, "3");
    for (int k = 0; k < 2; ++k)
        textAt(poser, swatch[k] + legendBarHeight + 6, y + 2, labels[k]);
}

// A component for the text: three decimals, without the sign of a value that shows as zero.
double shown(float v) { return std::fabs(v) < 0.0005f ? 0.0 : double(v); }

// The mix panel's line of library pose k: chosen or not, name, weight and its bar, one
// character a step: '=' from 0 to the weight, '|' at 0 and ':' at 1 elsewhere.
std::string mixPanelLine(const Poser& poser, int32_t k) {
    const std::string& name = poser.library[size_t(k)];
    const float weight = mixWeight(poser.pose, name);
    const int32_t at = int32_t(std::lround((weight - lowestMixWeight) * mixStepsPerUnit));
    const int32_t zero = int32_t(-lowestMixWeight * mixStepsPerUnit);
    std::string bar(size_t(mixBarLength) + 1, '.');
    bar[size_t(zero)] = '|';
    bar[size_t(zero + mixStepsPerUnit)] = ':';
    for (int32_t c = std::min(at, zero); c <= std::max(at, zero); ++c)
        if (c != zero || at == zero)
            bar[size_t(c)] = at == zero ? '|' : '=';
    char line[200];
    std::snprintf(line, sizeof line, "%c %-20.64s %+5.1f [%s]", k == poser.mixIndex ? '>' : ' ',
                  name.c_str(), double(weight), bar.c_str());
    return line;
}

// Top left, one line a row: the name being typed or the library pose, the shown point's
// index and displacement from rest and the drag's mirroring and region (in deformation mode),
// the mix panel under "b", then the key list under "?", on a panel.
void drawTopText(const Poser& poser, const Scene& scene, const ViewerState& state) {
    std::vector<std::string> lines;
    char pointLine[160];
    // The name being typed, or the library pose last saved, loaded or stepped to.
    std::string poseLine;
    const LandmarkPlacing& placing = poser.landmarks;
    if (placing.on) {
        const int32_t i = placing.current;
        lines.push_back("landmark " + std::to_string(i + 1) + " of 18: " + faceFeatureNames[i] +
                        ", " + landmarkDescriptions[i]);
        lines.push_back(std::string("right press on the head places it") +
                        (placing.guessed[i] ? "; Enter keeps the guess (yellow)" : "") +
                        "; Backspace: back");
    }
    if (poser.naming && poser.namingFor == Naming::take)
        poseLine = "play the take: " + poser.typedName + "_   (Enter loads, Esc cancels)";
    else if (poser.naming && poser.namingFor == Naming::halves)
        poseLine = "save the halves as: " + poser.typedName + "_-left, -right   (Enter saves, " +
                   "Esc cancels)";
    else if (poser.naming)
        poseLine = "save the pose as: " + poser.typedName + "_   (Enter saves, Esc cancels)";
    else if (poser.libraryIndex >= 0)
        poseLine = "pose " + std::to_string(poser.libraryIndex + 1) + " of " +
                   std::to_string(poser.library.size()) + ": " +
                   poser.library[size_t(poser.libraryIndex)];
    if (!poseLine.empty())
        lines.push_back(poseLine);
    if (state.deformMode && poser.shownPoint >= 0) {
        const int32_t i = poser.shownPoint;
        const bool held = i == poser.dragIndex;
        const Vector3 d =
            held ? scene.controlPoints[i] - poser.pose.rest[i] : poser.pose.offsets[i];
        std::snprintf(pointLine, sizeof pointLine,
                      "control point %d: (%.3f, %.3f, %.3f) from rest%s", i, shown(d.x), shown(d.y),
                      shown(d.z), held ? ", held" : "");
        lines.push_back(pointLine);
    }
    if (state.deformMode && (poser.mirrorDrag || poser.regionSteps > 0)) {
        char dragLine[160];
        std::snprintf(dragLine, sizeof dragLine, "drag: %s%s, region %.1f edges",
                      poser.mirrorDrag ? "mirrored, " : "",
                      poser.mirrorDrag ? (std::to_string(poser.pairs.paired) + " of " +
                                          std::to_string(poser.pairs.count) + " points paired")
                                             .c_str()
                                       : "one side",
                      double(poser.regionSteps) / regionStepsPerEdge);
        lines.push_back(dragLine);
    }
    if (poser.showMix) {
        const int32_t count = int32_t(poser.library.size());
        lines.push_back(count == 0 ? "mix: the pose library holds no poses ('n' saves one)"
                                   : "mix: '{' '}' choose a pose, '9' '0' its weight");
        const int32_t first = std::max(0, std::min(poser.mixIndex - mixRows / 2, count - mixRows));
        for (int32_t k = first; k < std::min(count, first + mixRows); ++k)
            lines.push_back(mixPanelLine(poser, k));
    }
    if (poser.showKeys) {
        lines.push_back("keys:");
        for (int32_t k = 0; k < viewerKeyLineCount; ++k)
            lines.push_back(viewerKeyLines[k]);
        for (int32_t k = 0; k < poserKeyLineCount; ++k)
            lines.push_back(poserKeyLines[k]);
    }
    const int32_t count = int32_t(lines.size());
    size_t widest = 0;
    for (const std::string& line : lines)
        widest = std::max(widest, line.size() + 1); // a tab shows as two spaces
    const int32_t top = state.windowHeight - textMargin / 2;
    drawPanel(0, top - count * textLineHeight - textMargin / 2,
              2 * textMargin + int32_t(widest) * textGlyphWidth, state.windowHeight);
    glColor3fv(textColour);
    for (int32_t k = 0; k < count; ++k) {
        const bool tab = lines[size_t(k)][0] == '\t';
        textAt(poser, textMargin + (tab ? 2 * textGlyphWidth : 0),
               top - (k + 1) * textLineHeight + 3, lines[size_t(k)].c_str() + (tab ? 1 : 0));
    }
}

// The landmark mode's press, where the frame just drawn has the surface: the depth at its
// pixel back into model units.
void placePressedLandmark(Poser& poser, const Scene& scene, const ViewerState& state) {
    LandmarkPlacing& placing = poser.landmarks;
    placing.pressPending = false;
    const int32_t x = placing.pressX, y = placing.pressY;
    if (x < 0 || y < 0 || x >= state.windowWidth || y >= state.windowHeight)
        return;
    float depth = 1.0f;
    glReadPixels(x, state.windowHeight - 1 - y, 1, 1, GL_DEPTH_COMPONENT, GL_FLOAT, &depth);
    Vector3 point;
    if (pressedSurfacePoint(point, state.camera, state.windowWidth, state.windowHeight, x, y,
                            depth))
        landmarkPressed(poser, scene, point);
    else
        landmarkPressed(poser, scene, {1e30f, 1e30f, 1e30f}); // says nothing is there
}

// The landmarks over the face: placed ones green, the one asked for larger (its guess
// yellow, if any), the other guesses grey.
void drawLandmarkMarks(const Poser& poser) {
    const LandmarkPlacing& placing = poser.landmarks;
    glPushAttrib(GL_ENABLE_BIT | GL_POINT_BIT | GL_CURRENT_BIT);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_LIGHTING);
    glDisable(GL_TEXTURE_2D);
    for (int32_t i = 0; i < landmarkCount; ++i) {
        const bool asked = i == placing.current;
        if (!placing.placed[i] && !placing.guessed[i])
            continue;
        glPointSize(asked ? 10.0f : 6.0f);
        if (placing.placed[i] && !asked)
            glColor3f(0.2f, 0.9f, 0.3f);
        else if (asked)
            glColor3f(1.0f, 0.9f, 0.1f);
        else
            glColor3f(0.6f, 0.6f, 0.6f);
        glBegin(GL_POINTS);
        glVertex3fv(&placing.points[i].x);
        glEnd();
    }
    glPopAttrib();
}

// The take along the bottom: its line over the time bar, the bar filled up to the time shown.
void drawTakeBar(const Poser& poser, const ViewerState& state) {
    const TakePlayer& player = poser.player;
    const int32_t width = state.windowWidth;
    drawPanel(0, 0, width, takeBarHeight + textLineHeight + textMargin / 2);
    const double length = takeDuration(player.take);
    const float filled = length > 0.0 ? float(player.time / length) * float(width) : 0.0f;
    glBegin(GL_QUADS);
    glColor3f(0.35f, 0.35f, 0.4f); // the bar
    glVertex2f(0.0f, 2.0f);
    glVertex2f(float(width), 2.0f);
    glVertex2f(float(width), float(takeBarHeight - 2));
    glVertex2f(0.0f, float(takeBarHeight - 2));
    glColor3f(0.3f, 0.8f, 0.9f); // the part played
    glVertex2f(0.0f, 2.0f);
    glVertex2f(filled, 2.0f);
    glVertex2f(filled, float(takeBarHeight - 2));
    glVertex2f(0.0f, float(takeBarHeight - 2));
    glEnd();
    textAt(poser, textMargin, takeBarHeight + 4, takeStatusLine(player).c_str());
}

// The window's pixels as FOLDER/shot-NNN.png, NNN the first number not yet taken.
bool saveWindowPicture(std::string& file, std::string& error, const std::string& folder,
                       int32_t width, int32_t height) {
    struct stat info;
    for (int32_t n = 1; n <= maxShotNumber; ++n) {
        char name[32];
        std::snprintf(name, sizeof name, "shot-%03d.png", n);
        file = sceneFilePath(folder, name);
        if (stat(file.c_str(), &info) != 0 && errno == ENOENT)
            break;
        if (n == maxShotNumber)
            return error = file + ": exists, and so do shot-001.png to it; none written", false;
    }
    DecodedImage image;
    allocateImage(image, width, height, 3);
    std::vector<uint8_t> rows(size_t(width) * size_t(height) * 3);
    glPushClientAttrib(GL_CLIENT_PIXEL_STORE_BIT);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, width, height, GL_RGB, GL_UNSIGNED_BYTE, rows.data());
    glPopClientAttrib();
    const size_t stride = size_t(width) * 3;
    for (int32_t r = 0; r < height; ++r) // GL's rows come bottom first
        std::copy_n(&rows[size_t(height - 1 - r) * stride], stride,
                    &image.pixels[size_t(r) * stride]);
    return writePngFile(file.c_str(), image, error);
}

} // namespace

void drawPoserFrame(Poser& poser, Scene& scene, ViewerState& state) {
    beginFrame(state);
    drawReferenceFrame();
    // A take's head turn turns everything drawn of the face.
    const TakePlayer& player = poser.player;
    const bool take = !player.file.empty();
    const bool turned = take && player.headTurn && !player.take.rotations.empty();
    if (turned) {
        glMatrixMode(GL_MODELVIEW);
        glPushMatrix();
        const Matrix4 turn = turnAbout(takeHeadTurn(player.take, player.frame), poser.takePivot);
        glMultMatrixf(turn.m);
    }
    if (poser.showBinding)
        drawBindingColours(poser, scene);
    placeProps(poser, scene);
    drawScene(scene, state);
    if (turned)
        glPopMatrix();
    if (poser.landmarks.on && poser.landmarks.pressPending)
        placePressedLandmark(poser, scene, state);
    if (poser.landmarks.on)
        drawLandmarkMarks(poser);
    if (state.deformMode && !take) {
        markVisible(poser.facing.get(), poser.visible.get(), scene.controlPoints.get(),
                    scene.faceModel->controlNormals.get(), scene.controlPointCount, state.camera,
                    state.windowWidth, state.windowHeight);
        drawPointMarks(poser, scene);
    }
    const bool topText =
        poser.drawText && ((state.deformMode &&
                            (poser.shownPoint >= 0 || poser.mirrorDrag || poser.regionSteps > 0)) ||
                           poser.showKeys || poser.naming || poser.libraryIndex >= 0 ||
                           poser.showMix || poser.landmarks.on);
    if (topText || poser.showBinding || (take && poser.drawText)) {
        beginWindowOverlay(state.windowWidth, state.windowHeight);
        if (topText)
            drawTopText(poser, scene, state);
        if (poser.showBinding)
            drawLegend(poser);
        if (take && poser.drawText)
            drawTakeBar(poser, state);
        endWindowOverlay();
    }
    if (poser.shotPending && state.windowWidth > 0 && state.windowHeight > 0) {
        poser.shotPending = false;
        std::string file, error;
        if (saveWindowPicture(file, error, poser.folder, state.windowWidth, state.windowHeight)) {
            std::printf("saved the window to %s\n", file.c_str());
            std::fflush(stdout);
        } else {
            refuse(poserProgram, error);
        }
    }
}
