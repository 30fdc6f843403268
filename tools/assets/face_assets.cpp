// face-assets: generates the viewer's default data from nothing but the code in tools/assets/:
// the face model (render mesh and control mesh), the eyeball and teeth props, and their
// textures. The output is the same, byte for byte, on every run.
//
//   face-assets [folder]         writes the ten files into folder (default: data)
//   face-assets --dense folder   writes denser variants of the same face for benchmarks:
//                                retarget_100k.model and retarget_1m.model
//   face-assets --expressions folder
//                                writes the face's expression library (folder/NAME.txt and
//                                the VRM presets in folder/vrm/) and prints what each
//                                expression does, measured on the face
#include "io/messages.h"
#include "tools/assets/expressions.h"
#include "tools/assets/files.h"

#include <getopt.h>

#include <cstdio>
#include <new>
#include <string>

namespace {

const char usageText[] = "usage: face-assets [folder]   (default: data)\n"
                         "       face-assets --dense folder\n"
                         "       face-assets --expressions folder   (the library: poses)\n";

// Writes the expression library into folder and prints its measures; status 1 when a file
// cannot be written or an expression misses what its name promises.
int writeExpressions(const char* folder) {
    DefaultFace face;
    buildDefaultFace(face);
    std::vector<Expression> expressions;
    buildExpressions(expressions, face);
    std::string error;
    if (!writeExpressionLibrary(folder, expressions, face.model->controlPointCount, error))
        return refuse("face-assets", error);
    std::printf("%s: %d expressions and %d VRM presets (in %s/vrm); %s\n", folder, expressionCount,
                expressionPresetCount, folder, missingExpressionNote);
    std::vector<std::string> misses;
    measureExpressions(stdout, &misses, expressions, face);
    for (const std::string& name : misses)
        std::fprintf(stderr, "face-assets: %s misses an aim (the table above)\n", name.c_str());
    return misses.empty() ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    const option options[] = {{"dense", required_argument, nullptr, 'd'},
                              {"expressions", required_argument, nullptr, 'x'},
                              {"help", no_argument, nullptr, 'h'},
                              {nullptr, 0, nullptr, 0}};
    opterr = 0; // bad arguments get the usage, not getopt's own message
    const char* dense = nullptr;
    const char* expressionFolder = nullptr;
    for (int c; (c = getopt_long(argc, argv, "h", options, nullptr)) != -1;) {
        if (c == 'h') {
            std::fputs("face-assets: writes the default face's data folder (its model, props and "
                       "textures), a dense test face, or the face's expression library\n",
                       stdout);
            std::fputs(usageText, stdout);
            return 0;
        }
        if ((c != 'd' && c != 'x') || dense || expressionFolder) {
            std::fputs(usageText, stderr);
            return 2;
        }
        (c == 'd' ? dense : expressionFolder) = optarg;
    }
    const int operands = argc - optind;
    if (dense || expressionFolder ? operands != 0 : operands > 1) {
        std::fputs(usageText, stderr);
        return 2;
    }
    const char* folder = dense ? dense : operands == 1 ? argv[optind] : "data";
    try {
        if (expressionFolder)
            return writeExpressions(expressionFolder);
        std::string error;
        const bool written = dense ? writeDenseModels(folder, stdout, error)
                                   : writeDefaultAssets(folder, stdout, error);
        return written ? 0 : refuse("face-assets", error);
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "face-assets: out of memory while making the files for %s\n", folder);
        return 1;
    }
}
