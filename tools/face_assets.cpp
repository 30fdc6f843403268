// face-assets: generates the viewer's default data from nothing but the code in tools/:
// the face model (render mesh and control mesh), the eyeball and teeth props, and their
// textures. The output is the same, byte for byte, on every run.
//
//   face-assets [folder]         writes the ten files into folder (default: data)
//   face-assets --dense folder   writes denser variants of the same face for benchmarks:
//                                retarget_100k.model and retarget_1m.model
#include "tools/face_assets_files.h"

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--dense") == 0)
        return writeDenseModels(argv[2], stdout) ? 0 : 1;
    if (argc == 1 || (argc == 2 && argv[1][0] != '-'))
        return writeDefaultAssets(argc == 2 ? argv[1] : "data", stdout) ? 0 : 1;
    std::fprintf(stderr, "usage: face-assets [folder]   (default: data)\n"
                         "       face-assets --dense folder\n");
    return 2;
}
