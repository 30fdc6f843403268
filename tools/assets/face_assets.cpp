// face-assets: generates the viewer's default data from nothing but the code in tools/assets/:
// the face model (render mesh and control mesh), the eyeball and teeth props, and their
// textures. The output is the same, byte for byte, on every run.
//
//   face-assets [folder]         writes the ten files into folder (default: data)
//   face-assets --dense folder   writes denser variants of the same face for benchmarks:
//                                retarget_100k.model and retarget_1m.model
#include "io/messages.h"
#include "tools/assets/files.h"

#include <getopt.h>

#include <cstdio>
#include <new>
#include <string>

namespace {

const char usageText[] = "usage: face-assets [folder]   (default: data)\n"
                         "       face-assets --dense folder\n";

} // namespace

int main(int argc, char** argv) {
    const option options[] = {{"dense", required_argument, nullptr, 'd'},
                              {"help", no_argument, nullptr, 'h'},
                              {nullptr, 0, nullptr, 0}};
    opterr = 0; // bad arguments get the usage, not getopt's own message
    const char* dense = nullptr;
    for (int c; (c = getopt_long(argc, argv, "h", options, nullptr)) != -1;) {
        if (c == 'h') {
            std::fputs("face-assets: writes the default face's data folder (its model, props and "
                       "textures), or a dense test face\n",
                       stdout);
            std::fputs(usageText, stdout);
            return 0;
        }
        if (c != 'd' || dense) {
            std::fputs(usageText, stderr);
            return 2;
        }
        dense = optarg;
    }
    const int operands = argc - optind;
    if (dense ? operands != 0 : operands > 1) {
        std::fputs(usageText, stderr);
        return 2;
    }
    const char* folder = dense ? dense : operands == 1 ? argv[optind] : "data";
    try {
        std::string error;
        const bool written = dense ? writeDenseModels(folder, stdout, error)
                                   : writeDefaultAssets(folder, stdout, error);
        return written ? 0 : refuse("face-assets", error);
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "face-assets: out of memory while making the files for %s\n", folder);
        return 1;
    }
}
