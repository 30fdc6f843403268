// face-assets: generates the viewer's default data from nothing but the code in tools/assets/:
// the face model (render mesh and control mesh), the eyeball and teeth props, and their
// textures. The output is the same, byte for byte, on every run.
//
//   face-assets [folder]         writes the ten files into folder (default: data)
//   face-assets --dense folder   writes denser variants of the same face for benchmarks:
//                                retarget_100k.model and retarget_1m.model
#include "tools/assets/files.h"

#include <cstdio>
#include <cstring>
#include <new>

int main(int argc, char** argv) {
    const bool dense = argc == 3 && std::strcmp(argv[1], "--dense") == 0;
    const char* folder = dense ? argv[2] : argc == 2 ? argv[1] : "data";
    try {
        if (dense)
            return writeDenseModels(folder, stdout) ? 0 : 1;
        if (argc == 1 || (argc == 2 && argv[1][0] != '-'))
            return writeDefaultAssets(folder, stdout) ? 0 : 1;
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "face-assets: out of memory while making the files for %s\n", folder);
        return 1;
    }
    std::fprintf(stderr, "usage: face-assets [folder]   (default: data)\n"
                         "       face-assets --dense folder\n");
    return 2;
}
