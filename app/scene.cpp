#include "app/scene.h"

#include "draw/texture_upload.h"

#include <GL/gl.h>
#include <cstdio>
#include <new>

const char* const viewerKeyLines[viewerKeyLineCount] = {
    "\t'a' render geometry attachments",
    "\t'c' render control mesh",
    "\t'e' render eyes",
    "\t'h' render attachment-hinting samples",
    "\t't' toggle texturing",
    "\t<space> toggle interactive defo (right click + drag)",
};

namespace {

// One whole line on standard output, shown at once.
void printLine(const char* line) {
    std::fputs(line, stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

uint32_t loadTextureOrWarn(const char* program, const char* fileName) {
    int width = 0, height = 0, components = 0;
    std::string reason;
    uint32_t name = noTexture;
    try {
        name = loadTexture(width, height, components, fileName, &reason);
    } catch (const std::bad_alloc&) {
        reason = std::string(fileName) + ": out of memory while decoding";
    }
    if (name == noTexture)
        std::fprintf(stderr, "%s: warning: %s (drawn untextured)\n", program, reason.c_str());
    return name;
}

// Loads the props and their textures from folder in start-up order: each pair of props,
// then their two textures. loading names the prop file being read, for an out-of-memory
// message.
bool loadProps(Scene& scene, const std::string& folder, std::string& loading, std::string& error) {
    for (int32_t pair = 0; pair < propSlotCount; pair += 2) {
        for (int32_t s = pair; s < pair + 2; ++s) {
            loading = sceneFilePath(folder, propSlotSources[s].propFile);
            if (!loadProp(scene.propSlots[s].prop, loading.c_str(), error))
                return false;
        }
        loading.clear();
        for (int32_t s = pair; s < pair + 2; ++s)
            scene.propSlots[s].texture = loadTextureOrWarn(
                scene.program, sceneFilePath(folder, propSlotSources[s].textureFile).c_str());
    }
    return true;
}

void drawProp(PropSlot& slot, const PropSlotSource& source, const Vector3* controlPoints,
              const char* program) {
    Vector3 A, B, C;
    propFramePoints(A, B, C, source, controlPoints);
    Matrix4 transform = slot.givenTransform;
    const bool usable = slot.transformGiven || slot.frame->currentTransform(transform, A, B, C);
    if (!usable && !slot.degenerate)
        std::fprintf(stderr, "%s: warning: the frame of %s is degenerate; the prop is not drawn\n",
                     program, propFrameText(source).c_str());
    slot.degenerate = !usable;
    if (!usable)
        return;
    glBindTexture(GL_TEXTURE_2D, slot.texture);
    glPushMatrix();
    glMultMatrixf(transform.m);
    slot.prop->draw();
    glPopMatrix();
}

} // namespace

void printKeyBindings(const char* const* lines, int32_t count) {
    printLine("");
    printLine("key bindings:");
    for (int32_t i = 0; i < count; ++i)
        printLine(lines[i]);
    printLine("");
}

namespace {

// loading names the model or prop file being read (empty otherwise), for an out-of-memory
// message.
bool loadSceneFiles(Scene& scene, const std::string& folder, std::string& loading,
                    std::string& error) {
    printLine("computing attachments...");
    loading = sceneFilePath(folder, sceneModelFile);
    if (!loadFaceModel(scene.faceModel, scene.controlPoints, scene.controlPointCount,
                       loading.c_str(), error))
        return false;
    if (scene.controlPointCount < minControlPointCount) {
        error = loading + ": control points: " + std::to_string(scene.controlPointCount) +
                " control points, but the props' frames need at least " +
                std::to_string(minControlPointCount);
        return false;
    }
    loading.clear(); // textures fail with a warning of their own
    scene.skinTexture =
        loadTextureOrWarn(scene.program, sceneFilePath(folder, sceneSkinTextureFile).c_str());

    printLine("loading props...");
    if (!loadProps(scene, folder, loading, error))
        return false;
    for (int32_t s = 0; s < propSlotCount; ++s) {
        Vector3 A, B, C;
        propFramePoints(A, B, C, propSlotSources[s], scene.controlPoints.get());
        scene.propSlots[s].frame.reset(new PropFrame(A, B, C));
    }

    scene.dragger.reset(new ControlPointDragger(static_cast<uint32_t>(scene.controlPointCount),
                                                scene.controlPoints.get()));
    return true;
}

} // namespace

bool loadSceneFrom(Scene& scene, const std::string& folder, std::string& error) {
    std::string loading;
    try {
        return loadSceneFiles(scene, folder, loading, error);
    } catch (const std::bad_alloc&) {
        error = !loading.empty() ? "out of memory while loading " + loading
                                 : std::string("out of memory while loading the scene");
        return false;
    }
}

bool loadScene(Scene& scene, std::string& error) {
    if (!loadSceneFrom(scene, "", error))
        return false;
    printKeyBindings(viewerKeyLines, viewerKeyLineCount);
    return true;
}

void drawScene(Scene& scene, const ViewerState& state) {
    glBindTexture(GL_TEXTURE_2D, scene.skinTexture);
    scene.faceModel->draw(scene.controlPoints.get(), state.drawFlags);

    // The blend function is set in every frame: the face's overlays may change it.
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glEnable(GL_BLEND);
    for (int32_t s = 0; s < propSlotCount; ++s)
        if (propSlotSources[s].alwaysDrawn)
            drawProp(scene.propSlots[s], propSlotSources[s], scene.controlPoints.get(),
                     scene.program);
    glDisable(GL_BLEND);
    if (state.showEyes)
        for (int32_t s = 0; s < propSlotCount; ++s)
            if (!propSlotSources[s].alwaysDrawn)
                drawProp(scene.propSlots[s], propSlotSources[s], scene.controlPoints.get(),
                         scene.program);

    if (state.deformMode)
        scene.dragger->drawPoints(state.camera);
}
