// face-inspect: a command-line view of a face model file for the people who build models.
// Summary by default; --dump prints the attachments, the sub-patches, the edge table or
// the deformed render mesh, one record per line, numbers with %.9g.
#include "face/amplification.h"
#include "face/face_model.h"
#include "face/workers.h"
#include "io/import_record.h"
#include "io/messages.h"
#include "io/model_file.h"
#include "io/obj_file.h"
#include "io/pose_file.h"
#include "io/take_file.h"
#include "tools/common/arguments.h"
#include "tools/common/model_report.h"
#include "tools/common/pose_mix.h"
#include "tools/common/symmetry.h"
#include "tools/common/take_pose.h"
#include "tools/inspect/binding_picture.h"
#include "tools/inspect/scene_export.h"

#include <getopt.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <new>
#include <string>
#include <utility>
#include <vector>

namespace {

const char usageText[] =
    "usage: face-inspect [--search index|exhaustive] [--threads N]\n"
    "                    [--dump WHAT [--move I DX DY DZ]... [--step S]] MODEL\n"
    "  without --dump: summary (counts, attached vertices, weight minimum and median,\n"
    "                  time to read and to construct and bind)\n"
    "  --dump attachments  per render vertex: subPatch weight u v o1 o2 o3 nc1 nc2 nc3\n"
    "                      (an unattached vertex: -1 0)\n"
    "  --dump patches      per sub-patch: b300 b210 b201 b120 b030 b111 b102 b021 b012 b003\n"
    "  --dump edges        E; E lines a b; per control triangle its three edge references\n"
    "  --dump positions    per render vertex after one update: x y z nx ny nz\n"
    "  --dump pairs        per control point its mirror partner (itself on the plane of\n"
    "                      symmetry, -1 for none), as face-poser pairs them\n"
    "  --dump amplification  per render vertex: the largest distance it moves when one\n"
    "                      control point moves S (default 0.1) along x, y or z, divided\n"
    "                      by S\n"
    "  --step S            with --dump amplification: the move, a positive number\n"
    "  --move I DX DY DZ   with --dump positions: add (DX, DY, DZ) to control point I first\n"
    "                      (any number of times)\n"
    "  --search            nearest-sample search of the binding (default index; both give\n"
    "                      the same attachments)\n"
    "  --threads N         threads for the binding, the update and the amplification\n"
    "                      (default: every core; any count gives the same results)\n"
    "  --export-obj OUT.obj  the render mesh after the moves and one update, as OBJ\n"
    "  --source-coordinates  with --export-obj: placed back in the imported file's\n"
    "                      coordinates (needs face-import's record beside data/)\n"
    "  --export-scene OUT.EXT  the imported file's whole scene with the posed mesh in its own\n"
    "                      place, size and vertex order, in the format EXT names (.obj,\n"
    "                      .gltf, .glb, .dae, .ply, .stl; needs face-import's record; a Collada\n"
    "                      or OBJ source gives its own file with the positions replaced)\n"
    "  --shapes POSE...    with --export-scene: the scene at rest with one shape key per pose\n"
    "                      file, named after it (.glb, .gltf or .dae; the files up to the next\n"
    "                      option, or all but the last argument when MODEL comes last); for a\n"
    "                      model without face-import's record, the render mesh (.glb, .gltf)\n"
    "  --picture OUT.png   the render mesh after the moves, coloured by attachment weight\n"
    "                      (yellow 1, teal 0.5, purple 0; unattached red), from the viewer's\n"
    "                      start-up camera\n"
    "  --colour WHAT       with --picture: weight (default) or amplification (teal up to 1,\n"
    "                      yellow 1.5, red 3, magenta above; unattached grey)\n"
    "  --views WHICH       with --picture: front (default) or three (front, side, back)\n"
    "  --pose FILE         with --dump positions, --export-obj, --export-scene or --picture:\n"
    "                      moves \"I DX DY DZ\", one a line, as face-poser loads a pose (the\n"
    "                      positions of --mix FILE=1)\n"
    "  --mix FILE=W,...    with those: the pose files mixed, each at its weight W (-1 to 2), as\n"
    "                      face-poser's mix; the moves of --move and --pose are added to it\n"
    "  --mirror            with those: the pose mirrored, its left becoming its right\n"
    "  --half left|right   with those: the pose's left or right half (after --mirror), as\n"
    "                      face-poser's \"H\" saves it\n"
    "  --take FILE         a recorded performance (Live Link Face CSV, a CSV of time and\n"
    "                      expression names, or a web tracker's JSON) on the face: its\n"
    "                      weights mix the library poses FOLDER/poses/ of ARKit's names, as\n"
    "                      face-poser plays it. With --export-scene OUT.glb: the scene at rest\n"
    "                      with every library pose a shape key and the take as an animation\n"
    "                      (the weights, and the head's turn); with --picture PATTERN: one\n"
    "                      picture a frame, PATTERN holding %d for the frame (%04d: 0012)\n"
    "  --frame F           with --take: frame F alone (from 0), posed as --mix of its weights,\n"
    "                      for --dump positions, --export-obj, --export-scene or --picture\n"
    "  --help, -h          this text\n";

// The model file while it is read and the face model built from it, for the out-of-memory
// message.
const char* loadingFile = nullptr;

enum class Dump { none, attachments, patches, edges, positions, amplification, pairs };

// The values of the options that name one of a few things, in the order of their enums.
const char* const dumpNames[] = {"attachments", "patches",       "edges",
                                 "positions",   "amplification", "pairs"};
const char* const halfNames[] = {"left", "right"};
const char* const searchNames[] = {"index", "exhaustive"}; // SampleSearch's order
const char* const colourNames[] = {"weight", "amplification"};
const char* const viewNames[] = {"front", "three"};

// The place of value among names, or −1.
template <size_t count> int nameIndex(const char* value, const char* const (&names)[count]) {
    for (size_t k = 0; k < count; ++k)
        if (std::strcmp(value, names[k]) == 0)
            return int(k);
    return -1;
}

struct Options {
    Dump dump = Dump::none;
    SampleSearch search = SampleSearch::indexed;
    int32_t threads = 0; // 0: every core
    std::vector<ControlPointMove> moves;
    float step = smallAmplificationStep; // --dump amplification's move
    bool stepGiven = false;
    const char* model = nullptr;
    const char* exportObj = nullptr;
    const char* exportScene = nullptr;
    bool sourceCoordinates = false;
    const char* picture = nullptr;
    const char* pose = nullptr;
    std::vector<const char*> shapes;    // --shapes: the pose files
    bool colourByAmplification = false; // --picture's colouring
    bool threeViews = false;            // --picture's views
    bool pictureStyleGiven = false;     // --colour or --views
    std::vector<MixFile> mix;           // --mix: the pose files and their weights
    bool mirror = false;                // --mirror
    int half = -1;                      // --half: 0 left, 1 right, −1 the whole pose
    const char* take = nullptr;         // --take
    int32_t frame = -1;                 // --frame, −1 every frame
    // Whether the pose is formed as offsets from rest (a pose file, a mix, mirrored or
    // halved), as face-poser forms it, rather than by adding each --move to the point.
    bool posedByOffsets() const { return pose || !mix.empty() || mirror || half >= 0; }
};

int usage(const char* problem) {
    std::fprintf(stderr, "face-inspect: %s\n%s", problem, usageText);
    return 2;
}

// Whether two paths name one file: compared as absolute paths with "." and ".." resolved and
// links followed as far as they exist.
bool sameFile(const char* a, const char* b) {
    std::error_code ignored;
    return std::filesystem::weakly_canonical(std::filesystem::absolute(a, ignored), ignored) ==
           std::filesystem::weakly_canonical(std::filesystem::absolute(b, ignored), ignored);
}

// A picture file name for each frame: pattern with one "%d", "%Nd" or "%0Nd" (N one or two
// digits) and no other '%' but "%%". False when pattern is not such.
bool framePattern(const std::string& pattern) {
    int conversions = 0;
    for (size_t k = 0; k < pattern.size(); ++k) {
        if (pattern[k] != '%')
            continue;
        if (k + 1 < pattern.size() && pattern[k + 1] == '%') {
            ++k;
            continue;
        }
        size_t j = k + 1, digits = 0;
        for (; j < pattern.size() && std::isdigit(static_cast<unsigned char>(pattern[j])); ++j)
            ++digits;
        if (digits > 2 || j == pattern.size() || pattern[j] != 'd')
            return false;
        ++conversions;
        k = j;
    }
    return conversions == 1;
}

// The file name's extension, in lower case (".glb").
std::string lowerExtension(const char* file) {
    std::string extension = std::filesystem::path(file).extension().string();
    for (char& c : extension)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return extension;
}

// Reads the arguments into options; on a bad argument returns false with the problem. The
// options and the model file come in any order; "-" in getopt's option string hands every
// other argument over in place, so nothing is permuted and --move can take its three
// further values (which may start with '-') from argv itself.
bool parseArguments(Options& options, bool& help, std::string& problem, int argc, char** argv) {
    enum {
        dumpOption = 256,
        searchOption,
        moveOption,
        exportObjOption,
        pictureOption,
        poseOption,
        colourOption,
        viewsOption,
        exportSceneOption,
        sourceCoordinatesOption,
        stepOption,
        threadsOption,
        shapesOption,
        mixOption,
        mirrorOption,
        halfOption,
        takeOption,
        frameOption
    };
    const option longOptions[] = {
        {"dump", required_argument, nullptr, dumpOption},
        {"search", required_argument, nullptr, searchOption},
        {"threads", required_argument, nullptr, threadsOption},
        {"move", required_argument, nullptr, moveOption},
        {"export-obj", required_argument, nullptr, exportObjOption},
        {"export-scene", required_argument, nullptr, exportSceneOption},
        {"source-coordinates", no_argument, nullptr, sourceCoordinatesOption},
        {"shapes", no_argument, nullptr, shapesOption},
        {"picture", required_argument, nullptr, pictureOption},
        {"pose", required_argument, nullptr, poseOption},
        {"colour", required_argument, nullptr, colourOption},
        {"views", required_argument, nullptr, viewsOption},
        {"step", required_argument, nullptr, stepOption},
        {"mix", required_argument, nullptr, mixOption},
        {"mirror", no_argument, nullptr, mirrorOption},
        {"half", required_argument, nullptr, halfOption},
        {"take", required_argument, nullptr, takeOption},
        {"frame", required_argument, nullptr, frameOption},
        {"help", no_argument, nullptr, 'h'},
        {nullptr, 0, nullptr, 0}};
    const std::string dumpProblem =
        "--dump takes attachments, patches, edges, positions, amplification or pairs, once";
    const std::string halfProblem = "--half takes left or right, once";
    const std::string searchProblem = "--search takes index or exhaustive, once";
    const std::string moveProblem = "--move takes a control point index and three finite numbers";
    const std::string threadsProblem = threadCountProblem();
    const std::string colourProblem = "--colour takes weight or amplification";
    const std::string viewsProblem = "--views takes front or three";
    const std::string stepProblem = "--step takes a positive number, once";
    const std::string frameProblem = "--frame takes a frame number (0 and up), once";
    const auto fileProblem = [](int c) {
        return std::string(c == exportObjOption     ? "--export-obj"
                           : c == exportSceneOption ? "--export-scene"
                           : c == pictureOption     ? "--picture"
                           : c == takeOption        ? "--take"
                                                    : "--pose") +
               " takes a file name, once";
    };
    opterr = 0; // our own messages
    bool dumpGiven = false, searchGiven = false, inShapes = false;
    for (int c; (c = getopt_long(argc, argv, "-:h", longOptions, nullptr)) != -1;) {
        if (c != 1)
            inShapes = c == shapesOption;
        switch (c) {
        case 'h':
            help = true;
            return true;
        case shapesOption:
            if (!options.shapes.empty())
                return problem = "--shapes is given once, with its pose files", false;
            break;
        case 1: // a pose file after --shapes, or the model file
            if (inShapes) {
                options.shapes.push_back(optarg);
                break;
            }
            if (options.model)
                return problem = "more than one model file", false;
            options.model = optarg;
            break;
        case dumpOption:
        case searchOption: {
            const bool dump = c == dumpOption;
            bool& given = dump ? dumpGiven : searchGiven;
            if (given)
                return problem = dump ? dumpProblem : searchProblem, false;
            given = true;
            const int k = dump ? nameIndex(optarg, dumpNames) : nameIndex(optarg, searchNames);
            if (k < 0)
                return problem =
                           std::string(dump ? "unknown dump '" : "unknown search '") + optarg + "'",
                       false;
            if (dump)
                options.dump = Dump(k + 1);
            else
                options.search = SampleSearch(k);
            break;
        }
        case moveOption: {
            ControlPointMove move;
            if (optind + 3 > argc || !parseInteger(move.index, optarg, 0) ||
                !parseFinite(move.delta.x, argv[optind]) ||
                !parseFinite(move.delta.y, argv[optind + 1]) ||
                !parseFinite(move.delta.z, argv[optind + 2]))
                return problem = moveProblem, false;
            options.moves.push_back(move);
            optind += 3;
            break;
        }
        case sourceCoordinatesOption:
            options.sourceCoordinates = true;
            break;
        case mixOption:
            if (!parseMixArgument(options.mix, optarg, problem))
                return false;
            break;
        case mirrorOption:
            options.mirror = true;
            break;
        case halfOption:
            if (options.half >= 0 || (options.half = nameIndex(optarg, halfNames)) < 0)
                return problem = halfProblem, false;
            break;
        case frameOption:
            if (options.frame >= 0 || !parseInteger(options.frame, optarg, 0))
                return problem = frameProblem, false;
            break;
        case stepOption:
            if (options.stepGiven || !parseFinite(options.step, optarg) || !(options.step > 0.0f))
                return problem = stepProblem, false;
            options.stepGiven = true;
            break;
        case threadsOption:
            if (!parseThreadCount(options.threads, optarg, problem))
                return false;
            break;
        case exportObjOption:
        case exportSceneOption:
        case pictureOption:
        case takeOption:
        case poseOption: {
            const char*& file = c == exportObjOption     ? options.exportObj
                                : c == exportSceneOption ? options.exportScene
                                : c == pictureOption     ? options.picture
                                : c == takeOption        ? options.take
                                                         : options.pose;
            if (file)
                return problem = fileProblem(c), false;
            file = optarg;
            break;
        }
        case colourOption:
        case viewsOption: {
            const bool colour = c == colourOption;
            const int k = colour ? nameIndex(optarg, colourNames) : nameIndex(optarg, viewNames);
            if (k < 0)
                return problem = colour ? colourProblem : viewsProblem, false;
            options.pictureStyleGiven = true;
            (colour ? options.colourByAmplification : options.threeViews) = k == 1;
            break;
        }
        case ':': // an option without its value
            switch (optopt) {
            case dumpOption:
                return problem = dumpProblem, false;
            case searchOption:
                return problem = searchProblem, false;
            case moveOption:
                return problem = moveProblem, false;
            case threadsOption:
                return problem = threadsProblem, false;
            case colourOption:
                return problem = colourProblem, false;
            case viewsOption:
                return problem = viewsProblem, false;
            case stepOption:
                return problem = stepProblem, false;
            case frameOption:
                return problem = frameProblem, false;
            case mixOption:
                return problem = "--mix takes FILE=WEIGHT, separated by commas", false;
            case halfOption:
                return problem = halfProblem, false;
            default:
                return problem = fileProblem(optopt), false;
            }
        default: // '?'
            return problem = "unknown option '" +
                             (optopt ? std::string("-") + char(optopt) : argv[optind - 1]) + "'",
                   false;
        }
    }
    if (!options.model && !options.shapes.empty()) { // MODEL came last
        options.model = options.shapes.back();
        options.shapes.pop_back();
    }
    if (!options.model)
        return problem = "no model file", false;
    if (inShapes && options.shapes.empty())
        return problem = "--shapes takes one pose file or more", false;
    if (!options.shapes.empty() && !options.exportScene)
        return problem = "--shapes needs --export-scene", false;
    if (!options.shapes.empty() && (options.pose || !options.moves.empty()))
        return problem = "--shapes writes the scene at rest: it takes no --move or --pose", false;
    const bool output = options.exportObj || options.exportScene || options.picture;
    if (output && dumpGiven)
        return problem = "--dump cannot be combined with --export-obj, --export-scene or --picture",
               false;
    if (!options.moves.empty() && options.dump != Dump::positions && !output)
        return problem = "--move needs --dump positions, --export-obj, --export-scene or --picture",
               false;
    if (options.stepGiven && options.dump != Dump::amplification)
        return problem = "--step needs --dump amplification", false;
    // Each output a file of its own: the second would silently replace the first.
    const std::pair<const char*, const char*> outputs[] = {{"--export-obj", options.exportObj},
                                                           {"--export-scene", options.exportScene},
                                                           {"--picture", options.picture}};
    for (size_t a = 0; a < std::size(outputs); ++a)
        for (size_t b = a + 1; b < std::size(outputs); ++b)
            if (outputs[a].second && outputs[b].second &&
                sameFile(outputs[a].second, outputs[b].second))
                return problem = std::string(outputs[a].first) + " and " + outputs[b].first +
                                 " name the same file " + outputs[b].second,
                       false;
    if (options.pictureStyleGiven && !options.picture)
        return problem = "--colour and --views need --picture", false;
    if (options.sourceCoordinates && !options.exportObj)
        return problem = "--source-coordinates needs --export-obj", false;
    if (options.posedByOffsets() && options.dump != Dump::positions && !output)
        return problem = "--pose, --mix, --mirror and --half need --dump positions, --export-obj, "
                         "--export-scene or --picture",
               false;
    if (options.posedByOffsets() && !options.shapes.empty())
        return problem = "--shapes writes the scene at rest: it takes no --mix, --mirror or --half",
               false;
    if (options.frame >= 0 && !options.take)
        return problem = "--frame needs --take", false;
    if (options.take &&
        (options.posedByOffsets() || !options.moves.empty() || !options.shapes.empty()))
        return problem = "--take poses the face itself: it takes no --move, --pose, --mix, "
                         "--mirror, --half or --shapes",
               false;
    if (options.take && options.frame < 0 &&
        (options.exportObj || options.dump != Dump::none ||
         (!options.exportScene && !options.picture)))
        return problem =
                   "--take writes every frame with --export-scene (an animation) or --picture "
                   "(a picture a frame); --dump and --export-obj take one --frame",
               false;
    if (options.take && options.frame < 0 && options.picture && !framePattern(options.picture))
        return problem = std::string(options.picture) +
                         ": --picture with --take names one picture a frame: a pattern holding "
                         "one %d (or %04d ...) for the frame's number",
               false;
    if (options.take && options.frame < 0 && options.exportScene &&
        lowerExtension(options.exportScene) != ".glb")
        return problem = std::string(options.exportScene) + ": an animation is written as .glb",
               false;
    if (options.take && options.frame >= 0 && options.dump != Dump::positions && !output)
        return problem = "--take --frame needs --dump positions, --export-obj, --export-scene or "
                         "--picture",
               false;
    return true;
}

double millisecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

void printVector(const Vector3& v) { std::printf("%.9g %.9g %.9g", v.x, v.y, v.z); }

void printSummary(const FaceModel& model, const ModelData& data, double readMs, double bindMs,
                  SampleSearch search) {
    printModelSummary(model, data.controlPoints.get(), data.controlPointCount);
    MirrorPairs pairs;
    findMirrorPairs(pairs, data.controlPoints.get(), data.controlPointCount, model.edges.get(),
                    model.edgeCount);
    std::printf("mirror pairs: %d of %d control points paired (%.2f%%), %d on the plane x = %.4g\n",
                pairs.paired, pairs.count,
                pairs.count > 0 ? 100.0 * pairs.paired / pairs.count : 0.0, pairs.onPlane,
                double(pairs.planeX));
    std::printf("read: %.3f ms\n", readMs);
    const int32_t threads = sharedWorkers().threadCount;
    std::printf("construct and bind: %.3f ms (%s search, %d thread%s)\n", bindMs,
                search == SampleSearch::indexed ? "index" : "exhaustive", threads,
                threads == 1 ? "" : "s");
}

void dumpAttachments(const FaceModel& model) {
    for (int32_t i = 0; i < model.renderVertexCount; ++i) {
        const Attachment& a = model.attachments[i];
        if (a.subPatch < 0) {
            std::printf("-1 0\n");
            continue;
        }
        std::printf("%d %.9g %.9g %.9g %.9g %.9g %.9g %.9g %.9g %.9g\n", a.subPatch, a.weight, a.u,
                    a.v, a.offset[0], a.offset[1], a.offset[2], a.normalCoords[0],
                    a.normalCoords[1], a.normalCoords[2]);
    }
}

void dumpPatches(const FaceModel& model) {
    const ArrayHolder<Vector3>* arrays[10] = {&model.b300, &model.b210, &model.b201, &model.b120,
                                              &model.b030, &model.b111, &model.b102, &model.b021,
                                              &model.b012, &model.b003};
    for (int32_t s = 0; s < 3 * model.controlTriangleCount; ++s) {
        for (int j = 0; j < 10; ++j) {
            if (j > 0)
                std::printf(" ");
            printVector((*arrays[j])[s]);
        }
        std::printf("\n");
    }
}

void dumpEdges(const FaceModel& model) {
    std::printf("%d\n", model.edgeCount);
    for (int32_t e = 0; e < model.edgeCount; ++e)
        std::printf("%d %d\n", model.edges[e].a, model.edges[e].b);
    for (int32_t t = 0; t < model.controlTriangleCount; ++t) {
        const EdgeRef* r = model.triangleEdges[t].edge;
        std::printf("%d %d %d\n", r[0], r[1], r[2]);
    }
}

void dumpPositions(FaceModel& model, const Vector3* controlPoints) {
    model.update(model.renderPositions.get(), model.renderNormals.get(), controlPoints);
    for (int32_t i = 0; i < model.renderVertexCount; ++i) {
        printVector(model.renderPositions[i]);
        std::printf(" ");
        printVector(model.renderNormals[i]);
        std::printf("\n");
    }
}

void dumpPairs(const FaceModel& model, const Vector3* controlPoints) {
    MirrorPairs pairs;
    findMirrorPairs(pairs, controlPoints, model.controlPointCount, model.edges.get(),
                    model.edgeCount);
    for (int32_t i = 0; i < pairs.count; ++i)
        std::printf("%d\n", pairs.partners[i]);
}

// The folder whose data/ holds the model file (with its skin and props); false when the model
// file is not in a folder named data.
bool dataFolderOf(std::string& folder, const std::string& modelFile) {
    const std::filesystem::path data = std::filesystem::path(modelFile).parent_path();
    folder = data.parent_path().string();
    return data.filename() == "data";
}

// The pose as face-poser forms it, as offsets from rest: the mix of the --mix files, plus
// moves (a pose file's summed from zero, as face-poser loads it), mirrored under --mirror,
// then halved under --half; every point (K, at rest) is then set to rest + offset, the one
// sum face-poser shows.
bool poseByOffsets(Vector3* points, const FaceModel& model,
                   const std::vector<ControlPointMove>& moves, const Options& options,
                   std::string& error) {
    const int32_t K = model.controlPointCount;
    std::vector<NamedPose> poses;
    for (const MixFile& f : options.mix) {
        poses.push_back({poseName(f.file), {}});
        if (!readPoseFile(poses.back().moves, f.file.c_str(), K, error))
            return false;
        for (size_t k = 0; k + 1 < poses.size(); ++k)
            if (poses[k].name == poses.back().name)
                return fileError(error, f.file,
                                 "a second pose named \"" + poses.back().name +
                                     "\" in --mix (the mix is summed in the order of the names)");
    }
    std::vector<MixTerm> terms;
    for (size_t k = 0; k < poses.size(); ++k)
        terms.push_back(
            {poses[k].name, options.mix[k].weight, poses[k].moves.data(), poses[k].moves.size()});
    std::vector<Vector3> offsets(static_cast<size_t>(K)), other(static_cast<size_t>(K));
    mixOffsets(offsets.data(), K, terms.data(), terms.size());
    applyMoves(offsets.data(), moves.data(), moves.size());
    if (options.mirror || options.half >= 0) {
        MirrorPairs pairs;
        findMirrorPairs(pairs, points, K, model.edges.get(), model.edgeCount);
        if (options.mirror) {
            mirrorOffsets(other.data(), offsets.data(), pairs.partners.get(), K);
            offsets.swap(other);
        }
        if (options.half >= 0) {
            std::vector<Vector3> left(static_cast<size_t>(K)), right(static_cast<size_t>(K));
            splitOffsets(left.data(), right.data(), offsets.data(), points, pairs);
            offsets.swap(options.half == 0 ? left : right);
        }
    }
    for (int32_t i = 0; i < K; ++i)
        points[i] = points[i] + offsets[size_t(i)];
    return true;
}

// The control points (at rest) posed by moves (--move's, then the pose file's) as the
// options say: as offsets from rest, or with --move alone each move added to its point.
bool posePoints(Vector3* points, const FaceModel& model, const std::vector<ControlPointMove>& moves,
                const Options& options, std::string& error) {
    if (options.posedByOffsets())
        return poseByOffsets(points, model, moves, options, error);
    applyMoves(points, moves.data(), moves.size());
    return true;
}

void dumpAmplification(const FaceModel& model, const Vector3* controlPoints, float step) {
    std::vector<float> amplification(static_cast<size_t>(model.renderVertexCount));
    computeAmplification(amplification.data(), nullptr, model, controlPoints, step);
    for (float a : amplification)
        std::printf("%.9g\n", a);
}

// The binding picture, coloured as the options say.
bool writePicture(const char* fileName, const FaceModel& model, const Vector3* controlPoints,
                  const Options& options, std::string& error) {
    std::vector<float> amplification;
    if (options.colourByAmplification) {
        amplification.resize(static_cast<size_t>(model.renderVertexCount));
        computeAmplification(amplification.data(), nullptr, model, controlPoints,
                             smallAmplificationStep);
    }
    return writeBindingPicture(fileName, model,
                               options.colourByAmplification ? amplification.data() : nullptr,
                               options.threeViews, error);
}

// face-inspect's refusals are the readers' and writers' lines as they stand.
int fail(const std::string& line) {
    std::fprintf(stderr, "%s\n", line.c_str());
    return 1;
}

// The import record beside the model's data folder (MODEL is FOLDER/data/retarget.model).
std::filesystem::path recordPathOf(const char* model) {
    return std::filesystem::path(model).parent_path().parent_path() / importRecordFile;
}

bool readRecordOf(ImportRecord& record, const char* model, std::string& error) {
    const std::filesystem::path path = recordPathOf(model);
    std::error_code unused;
    if (!std::filesystem::exists(path, unused))
        return fileError(error, path.string(),
                         "no import record (face-import writes it beside data/; a model made "
                         "otherwise has none)");
    return readImportRecord(record, path.c_str(), error);
}

// The OBJ file of the render mesh, in model units or placed back in the source's.
bool writeRenderObj(const char* fileName, const FaceModel& model, const ImportRecord* record,
                    std::string& error) {
    const int32_t N = model.renderVertexCount;
    const std::string comment = "face-inspect: render mesh, " + std::to_string(N) + " vertices, " +
                                std::to_string(model.renderTriangleCount) + " triangles" +
                                (record ? ", in the source's coordinates" : "");
    std::vector<Vector3> positions, normals;
    if (record)
        for (int32_t i = 0; i < N; ++i) {
            positions.push_back(sourcePosition(*record, model.renderPositions[i]));
            normals.push_back(sourceDirection(*record, model.renderNormals[i]));
        }
    return writeObjFile(
        fileName, comment.c_str(), record ? positions.data() : model.renderPositions.get(),
        model.renderTexCoords.get(), record ? normals.data() : model.renderNormals.get(), N,
        model.renderTriangles.get(), model.renderTriangleCount, error);
}

// The take of --take and the library poses it drives, FOLDER/poses/ beside the model's data/.
struct TakeOnFace {
    Take take;
    std::string posesFolder;
    std::vector<NamedPose> poses;
    int32_t poseOf[arkitExpressionCount];
};

bool readTakeOnFace(TakeOnFace& face, const Options& options, int32_t K, std::string& error) {
    std::vector<std::string> lines;
    if (!readTakeFile(face.take, options.take, lines, error))
        return false;
    std::string folder;
    dataFolderOf(folder, options.model);
    face.posesFolder = (folder.empty() ? "" : folder + "/") + poseLibraryFolder;
    if (!readPoseLibrary(face.poses, lines, face.posesFolder, K, error))
        return false;
    for (const std::string& line : lines) // the take's warnings, the library's refusals
        std::fprintf(stderr, "face-inspect: %s\n", line.c_str());
    findDrivenPoses(face.poseOf, face.poses.data(), face.poses.size());
    if (drivenPoseCount(face.take, face.poseOf) == 0)
        return fileError(error, face.posesFolder,
                         "holds none of the expressions the take names (the library's poses "
                         "are named as ARKit names them: eyeBlinkLeft, jawOpen, ...)");
    const std::string missing = undrivenExpressions(face.take, face.poseOf);
    if (!missing.empty())
        std::fprintf(stderr,
                     "face-inspect: %s has no pose of %s, which the take names: left at rest\n",
                     face.posesFolder.c_str(), missing.c_str());

    if (options.frame >= face.take.frameCount)
        return fileError(error, options.take,
                         "--frame " + std::to_string(options.frame) + " is past the take's " +
                             std::to_string(face.take.frameCount) + " frames");
    return true;
}

// --frame as --mix: each library pose the frame weighs, at its weight.
void frameMix(std::vector<MixFile>& mix, const TakeOnFace& face, int32_t frame) {
    const float* weights = &face.take.weights[size_t(frame) * arkitExpressionCount];
    for (int32_t e = 0; e < arkitExpressionCount; ++e)
        if (face.poseOf[e] >= 0 && weights[e] != 0.0f)
            mix.push_back({libraryPoseFile(face.posesFolder, arkitExpressionNames[e]), weights[e]});
}

// The take without --frame: the animated scene of --export-scene, the pictures of --picture.
int writeTakeOutputs(FaceModel& model, ModelData& data, const Options& options,
                     const TakeOnFace& face) {
    Vector3* points = data.controlPoints.get();
    const int32_t K = data.controlPointCount;
    std::string error;
    if (options.exportScene) {
        std::error_code unused;
        const bool ownScene = std::filesystem::exists(recordPathOf(options.model), unused);
        ImportRecord record;
        if (ownScene && !readRecordOf(record, options.model, error))
            return fail(error);
        model.update(model.renderPositions.get(), model.renderNormals.get(), points);
        SceneAnimation animation;
        takeAnimation(animation, std::filesystem::path(options.take).filename().string(), face.take,
                      face.poses.data(), face.poses.size(), ownScene ? &record : nullptr,
                      headPivot(model.renderPositions.get(), model.renderVertexCount), true);
        std::string folder;
        const bool inDataFolder = dataFolderOf(folder, options.model);
        if (ownScene ? !exportShapeScene(options.exportScene, record, model, points,
                                         face.poses.data(), face.poses.size(), error, &animation)
                     : !exportRenderShapes(
                           options.exportScene, model, points, face.poses.data(), face.poses.size(),
                           inDataFolder ? folder.c_str() : nullptr, error, &animation))
            return fail(error);
    }
    if (options.picture) {
        std::vector<Vector3> offsets(static_cast<size_t>(K)), posed(static_cast<size_t>(K));
        std::vector<MixTerm> terms;
        for (int32_t f = 0; f < face.take.frameCount; ++f) {
            takeFrameTerms(terms, face.take, f, face.poses.data(), face.poseOf);
            mixOffsets(offsets.data(), K, terms.data(), terms.size());
            for (int32_t i = 0; i < K; ++i)
                posed[size_t(i)] = points[i] + offsets[size_t(i)];
            model.update(model.renderPositions.get(), model.renderNormals.get(), posed.data());
            char name[4096];
            if (std::snprintf(name, sizeof name, options.picture, int(f)) >= int(sizeof name))
                return fail(std::string(options.picture) + ": the pattern makes too long a name");
            if (!writePicture(name, model, posed.data(), options, error))
                return fail(error);
        }
    }
    return 0;
}

// --export-obj, --export-scene and --picture: the moves of the command line, then those of
// the pose file, one update, then the files.
int writeOutputs(FaceModel& model, ModelData& data, const Options& options) {
    std::vector<ControlPointMove> moves = options.moves;
    std::string error;
    ImportRecord record;
    // Shape keys of a model without a record (the default face) go on the render mesh alone.
    std::error_code unused;
    const bool renderShapes =
        !options.shapes.empty() && !std::filesystem::exists(recordPathOf(options.model), unused);
    const bool needsRecord = (options.exportScene && !renderShapes) || options.sourceCoordinates;
    if ((options.pose && !readPoseFile(moves, options.pose, data.controlPointCount, error)) ||
        (needsRecord && !readRecordOf(record, options.model, error)))
        return fail(error);
    Vector3* points = data.controlPoints.get();
    if (!options.shapes.empty()) {
        std::vector<NamedPose> poses;
        for (const char* file : options.shapes) {
            poses.push_back({poseName(file), {}});
            if (!validPoseName(poses.back().name))
                return fail(std::string(file) +
                            ": not a pose name (1 to 64 letters, digits, '-' or '_' before .txt)");
            if (!readPoseFile(poses.back().moves, file, data.controlPointCount, error))
                return fail(error);
            for (size_t k = 0; k + 1 < poses.size(); ++k)
                if (poses[k].name == poses.back().name)
                    return fail(std::string(file) + ": a second pose named \"" + poses.back().name +
                                "\" (shape keys are named after their files)");
        }
        std::string folder;
        const bool inDataFolder = dataFolderOf(folder, options.model);
        if (renderShapes
                ? !exportRenderShapes(options.exportScene, model, points, poses.data(),
                                      poses.size(), inDataFolder ? folder.c_str() : nullptr, error)
                : !exportShapeScene(options.exportScene, record, model, points, poses.data(),
                                    poses.size(), error))
            return fail(error);
        return 0;
    }
    // The scene's moves are measured from one update at rest, so that a vertex the moves do
    // not reach keeps its position exactly.
    std::vector<Vector3> restPositions, restNormals;
    if (options.exportScene) {
        model.update(model.renderPositions.get(), model.renderNormals.get(), points);
        restPositions.assign(model.renderPositions.get(),
                             model.renderPositions.get() + model.renderVertexCount);
        restNormals.assign(model.renderNormals.get(),
                           model.renderNormals.get() + model.renderVertexCount);
    }
    if (!posePoints(points, model, moves, options, error))
        return fail(error);
    model.update(model.renderPositions.get(), model.renderNormals.get(), points);
    if ((options.exportObj &&
         !writeRenderObj(options.exportObj, model, options.sourceCoordinates ? &record : nullptr,
                         error)) ||
        (options.exportScene &&
         !exportScene(options.exportScene, record, restPositions.data(), restNormals.data(),
                      model.renderPositions.get(), model.renderNormals.get(),
                      model.renderVertexCount, nullptr, 0, error)) ||
        (options.picture && !writePicture(options.picture, model, points, options, error)))
        return fail(error);
    return 0;
}

} // namespace

int main(int argc, char** argv) try {
    Options options;
    std::string problem;
    bool help = false;
    if (!parseArguments(options, help, problem, argc, argv))
        return usage(problem.c_str());
    if (help) {
        std::fputs("face-inspect: reports on a face model file, dumps its binding, draws it, and "
                   "exports it posed to OBJ or to the imported file's own scene\n",
                   stdout);
        std::fputs(usageText, stdout);
        return 0;
    }

    if (options.threads > 0)
        setSharedThreadCount(options.threads);
    const auto readStart = std::chrono::steady_clock::now();
    ModelData data;
    std::string error;
    loadingFile = options.model;
    if (!readModelFile(data, options.model, error)) {
        // A file whose first line is no count at all is no face model: most likely a mesh.
        if (error.find(", line 1: render vertex count: \"") != std::string::npos)
            error += "; not a face model: face-import reads meshes (face-import MESH --out "
                     "FOLDER), face-inspect reads FOLDER/data/retarget.model";
        return fail(error);
    }
    if (!faceModelFits(error, data, options.model))
        return fail(error);
    const double readMs = millisecondsSince(readStart);
    for (const ControlPointMove& move : options.moves)
        if (move.index >= data.controlPointCount) {
            const std::string text = "--move index " + std::to_string(move.index) +
                                     " is not below the control point count " +
                                     std::to_string(data.controlPointCount);
            return usage(text.c_str());
        }

    const auto bindStart = std::chrono::steady_clock::now();
    FaceModel model(data.controlPoints.get(), data.controlPointCount, data.controlTriangles.get(),
                    data.controlTriangleCount, data.renderPositions.get(), data.renderNormals.get(),
                    data.renderTexCoords.get(), data.renderVertexCount, data.renderTriangles.get(),
                    data.renderTriangleCount, options.search);
    const double bindMs = millisecondsSince(bindStart);
    loadingFile = nullptr;
    if (options.take) {
        TakeOnFace face;
        if (!readTakeOnFace(face, options, data.controlPointCount, error))
            return fail(error);
        if (options.frame < 0)
            return writeTakeOutputs(model, data, options, face);
        frameMix(options.mix, face, options.frame); // the frame is --mix of its weights
    }
    if (options.exportObj || options.exportScene || options.picture)
        return writeOutputs(model, data, options);

    switch (options.dump) {
    case Dump::none:
        printSummary(model, data, readMs, bindMs, options.search);
        break;
    case Dump::attachments:
        dumpAttachments(model);
        break;
    case Dump::patches:
        dumpPatches(model);
        break;
    case Dump::edges:
        dumpEdges(model);
        break;
    case Dump::amplification:
        dumpAmplification(model, data.controlPoints.get(), options.step);
        break;
    case Dump::positions: {
        std::vector<ControlPointMove> moves = options.moves;
        if ((options.pose && !readPoseFile(moves, options.pose, data.controlPointCount, error)) ||
            !posePoints(data.controlPoints.get(), model, moves, options, error))
            return fail(error);
        dumpPositions(model, data.controlPoints.get());
        break;
    }
    case Dump::pairs:
        dumpPairs(model, data.controlPoints.get());
        break;
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
} catch (const std::bad_alloc&) {
    if (loadingFile)
        std::fprintf(stderr, "face-inspect: out of memory while loading %s\n", loadingFile);
    else
        std::fprintf(stderr, "face-inspect: out of memory\n");
    return 1;
}
