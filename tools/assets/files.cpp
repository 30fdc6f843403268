// Default and dense file sets of face-assets (see files.h).
#include "tools/assets/files.h"

#include "io/image_file.h"
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

bool writeDefaultAssets(const std::string& folder, FILE* log, std::string& error) {
    auto path = [&](const char* name) { return folder + "/" + name; };
    FaceMesh render;
    buildRenderMesh(render, defaultRenderSpacing);
    ControlMesh control;
    buildControlMesh(control);
    if (!writeFaceModel(path("retarget.model").c_str(), render, control.mesh, error))
        return false;
    if (log != nullptr)
        std::fprintf(log,
                     "retarget.model: %zu render vertices, %zu render triangles, %zu control "
                     "points, %zu control triangles (eyelids from %d, lips from %d)\n",
                     render.positions.size(), render.triangles.size(),
                     control.mesh.positions.size(), control.mesh.triangles.size(),
                     control.firstLidOrLipTriangle, control.firstLipTriangle);

    PropMesh prop;
    buildTeeth(prop, true);
    if (!writePropMesh(path("black_th0.prop").c_str(), prop, error))
        return false;
    const size_t teethVertices = prop.positions.size();
    buildTeeth(prop, false);
    if (!writePropMesh(path("black_th1.prop").c_str(), prop, error))
        return false;
    buildEyeball(prop, -1);
    if (!writePropMesh(path("white_eye0.prop").c_str(), prop, error))
        return false;
    buildEyeball(prop, 1);
    if (!writePropMesh(path("white_eye1.prop").c_str(), prop, error))
        return false;
    if (log != nullptr)
        std::fprintf(log, "props: teeth rows %zu vertices each, eyeballs %zu vertices each\n",
                     teethVertices, prop.positions.size());

    DecodedImage image;
    paintSkin(image);
    if (!writeTgaFile(path("white_skin.tga").c_str(), image, true, error))
        return false;
    paintTeeth(image, true);
    if (!writeTgaFile(path("black_th0.tga").c_str(), image, false, error))
        return false;
    paintTeeth(image, false);
    if (!writeTgaFile(path("black_th1.tga").c_str(), image, false, error))
        return false;
    paintEye(image);
    return writeTgaFile(path("white_eye0.tga").c_str(), image, false, error) &&
           writeTgaFile(path("white_eye1.tga").c_str(), image, false, error);
}

bool writeDenseModels(const std::string& folder, FILE* log, std::string& error) {
    ControlMesh control;
    buildControlMesh(control);
    struct Variant {
        const char* name;
        double vertexCount;
    };
    const Variant variants[] = {{"retarget_100k.model", 1e5}, {"retarget_1m.model", 1e6}};
    for (const Variant& variant : variants) {
        FaceMesh render;
        buildRenderMesh(render, renderSpacingFor(variant.vertexCount));
        if (!writeFaceModel((folder + "/" + variant.name).c_str(), render, control.mesh, error))
            return false;
        if (log != nullptr)
            std::fprintf(log, "%s: %zu render vertices, %zu render triangles\n", variant.name,
                         render.positions.size(), render.triangles.size());
    }
    return true;
}
