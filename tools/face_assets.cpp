// face-assets: generates the viewer's default data from nothing but the code in tools/:
// the face model (render mesh and control mesh), the eyeball and teeth props, and their
// textures. The output is the same, byte for byte, on every run.
//
//   face-assets [folder]         writes the ten files into folder (default: data)
//   face-assets --dense folder   writes denser variants of the same face for benchmarks:
//                                retarget_100k.model and retarget_1m.model
#include "tools/face_assets_mesh.h"
#include "tools/face_assets_paint.h"
#include "tools/face_assets_props.h"
#include "tools/face_assets_write.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

bool writeDefaultData(const std::string& folder) {
    FaceMesh render;
    buildRenderMesh(render, defaultRenderSpacing);
    ControlMesh control;
    buildControlMesh(control);
    bool ok = writeModelFile((folder + "/retarget.model").c_str(), render, control.mesh);
    std::printf("retarget.model: %zu render vertices, %zu render triangles, %zu control points, "
                "%zu control triangles (eyelids from %d, lips from %d)\n",
                render.positions.size(), render.triangles.size(), control.mesh.positions.size(),
                control.mesh.triangles.size(), control.firstLidOrLipTriangle,
                control.firstLipTriangle);

    PropMesh prop;
    buildTeeth(prop, true);
    ok = writePropFile((folder + "/black_th0.prop").c_str(), prop) && ok;
    buildTeeth(prop, false);
    ok = writePropFile((folder + "/black_th1.prop").c_str(), prop) && ok;
    buildEyeball(prop, -1);
    ok = writePropFile((folder + "/white_eye0.prop").c_str(), prop) && ok;
    buildEyeball(prop, 1);
    ok = writePropFile((folder + "/white_eye1.prop").c_str(), prop) && ok;

    Image image;
    paintSkin(image);
    ok = writeTgaFile((folder + "/white_skin.tga").c_str(), image, true) && ok;
    paintTeeth(image, true);
    ok = writeTgaFile((folder + "/black_th0.tga").c_str(), image, false) && ok;
    paintTeeth(image, false);
    ok = writeTgaFile((folder + "/black_th1.tga").c_str(), image, false) && ok;
    paintEye(image);
    ok = writeTgaFile((folder + "/white_eye0.tga").c_str(), image, false) && ok;
    ok = writeTgaFile((folder + "/white_eye1.tga").c_str(), image, false) && ok;
    return ok;
}

// The render mesh's vertex count grows as 1/spacing², so one measurement at the default
// spacing gives the spacing for any target count.
bool writeDenseVariants(const std::string& folder) {
    FaceMesh render;
    buildRenderMesh(render, defaultRenderSpacing);
    const double defaultCount = static_cast<double>(render.positions.size());
    ControlMesh control;
    buildControlMesh(control);
    struct Variant {
        const char* name;
        double vertexCount;
    };
    const Variant variants[] = {{"retarget_100k.model", 1e5}, {"retarget_1m.model", 1e6}};
    bool ok = true;
    for (const Variant& variant : variants) {
        buildRenderMesh(render, defaultRenderSpacing * std::sqrt(defaultCount / variant.vertexCount));
        ok = writeModelFile((folder + "/" + variant.name).c_str(), render, control.mesh) && ok;
        std::printf("%s: %zu render vertices, %zu render triangles\n", variant.name,
                    render.positions.size(), render.triangles.size());
    }
    return ok;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--dense") == 0)
        return writeDenseVariants(argv[2]) ? 0 : 1;
    if (argc <= 2 && (argc == 1 || argv[1][0] != '-'))
        return writeDefaultData(argc == 2 ? argv[1] : "data") ? 0 : 1;
    std::fprintf(stderr, "usage: face-assets [folder]   (default: data)\n"
                         "       face-assets --dense folder\n");
    return 2;
}
