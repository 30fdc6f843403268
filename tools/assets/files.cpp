// Default and dense file sets of face-assets (see files.h).
#include "tools/assets/files.h"

#include "tools/assets/mesh.h"
#include "tools/assets/paint.h"
#include "tools/assets/props.h"
#include "tools/assets/write.h"

#include <cmath>

namespace {

// Render-mesh spacing that gives about vertexCount render vertices (the count grows as
// 1/spacing²; measured once at the default spacing).
double renderSpacingFor(double vertexCount) {
    FaceMesh render;
    buildRenderMesh(render, defaultRenderSpacing);
    return defaultRenderSpacing *
           std::sqrt(static_cast<double>(render.positions.size()) / vertexCount);
}

} // namespace

bool writeDefaultAssets(const std::string& folder, FILE* log) {
    auto path = [&](const char* name) { return folder + "/" + name; };
    FaceMesh render;
    buildRenderMesh(render, defaultRenderSpacing);
    ControlMesh control;
    buildControlMesh(control);
    bool ok = writeModelFile(path("retarget.model").c_str(), render, control.mesh);
    if (log != nullptr)
        std::fprintf(log,
                     "retarget.model: %zu render vertices, %zu render triangles, %zu control "
                     "points, %zu control triangles (eyelids from %d, lips from %d)\n",
                     render.positions.size(), render.triangles.size(),
                     control.mesh.positions.size(), control.mesh.triangles.size(),
                     control.firstLidOrLipTriangle, control.firstLipTriangle);

    PropMesh prop;
    buildTeeth(prop, true);
    ok = writePropFile(path("black_th0.prop").c_str(), prop) && ok;
    const size_t teethVertices = prop.positions.size();
    buildTeeth(prop, false);
    ok = writePropFile(path("black_th1.prop").c_str(), prop) && ok;
    buildEyeball(prop, -1);
    ok = writePropFile(path("white_eye0.prop").c_str(), prop) && ok;
    buildEyeball(prop, 1);
    ok = writePropFile(path("white_eye1.prop").c_str(), prop) && ok;
    if (log != nullptr)
        std::fprintf(log, "props: teeth rows %zu vertices each, eyeballs %zu vertices each\n",
                     teethVertices, prop.positions.size());

    Image image;
    paintSkin(image);
    ok = writeTgaFile(path("white_skin.tga").c_str(), image, true) && ok;
    paintTeeth(image, true);
    ok = writeTgaFile(path("black_th0.tga").c_str(), image, false) && ok;
    paintTeeth(image, false);
    ok = writeTgaFile(path("black_th1.tga").c_str(), image, false) && ok;
    paintEye(image);
    ok = writeTgaFile(path("white_eye0.tga").c_str(), image, false) && ok;
    ok = writeTgaFile(path("white_eye1.tga").c_str(), image, false) && ok;
    return ok;
}

bool writeDenseModels(const std::string& folder, FILE* log) {
    ControlMesh control;
    buildControlMesh(control);
    struct Variant {
        const char* name;
        double vertexCount;
    };
    const Variant variants[] = {{"retarget_100k.model", 1e5}, {"retarget_1m.model", 1e6}};
    bool ok = true;
    for (const Variant& variant : variants) {
        FaceMesh render;
        buildRenderMesh(render, renderSpacingFor(variant.vertexCount));
        ok = writeModelFile((folder + "/" + variant.name).c_str(), render, control.mesh) && ok;
        if (log != nullptr)
            std::fprintf(log, "%s: %zu render vertices, %zu render triangles\n", variant.name,
                         render.positions.size(), render.triangles.size());
    }
    return ok;
}
