// face-import: turns a head or face from a modelling tool or scanner (any format assimp
// reads) into a data folder the viewer shows, deformable: the render mesh placed in the
// viewer's units, a control mesh (the user's or a simplified copy of the render mesh), the
// skin texture, empty props. Then prints how well the render mesh binds to the surface.
#include "face/amplification.h"
#include "face/face_model.h"
#include "face/workers.h"
#include "io/data_folder.h"
#include "io/file_contents.h"
#include "io/messages.h"
#include "io/model_file.h"
#include "io/normals.h"
#include "tools/assets/expressions.h"
#include "tools/common/arguments.h"
#include "tools/common/model_report.h"
#include "tools/fit/face_finding.h"
#include "tools/fit/face_fit.h"
#include "tools/fit/head_library.h"
#include "tools/fit/pose_transfer.h"
#include "tools/import/automatic_cage.h"
#include "tools/import/cage_fit.h"
#include "tools/import/cage_refine.h"
#include "tools/import/cage_rules.h"
#include "tools/import/cage_simplify.h"
#include "tools/import/canonical_mesh.h"
#include "tools/import/import_mesh.h"
#include "tools/import/import_write.h"
#include "tools/import/left_behind.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <future>
#include <getopt.h>
#include <new>
#include <string>
#include <vector>

namespace {

const char usageText[] =
    "usage: face-import MESH --out FOLDER [options]\n"
    "  writes FOLDER/data/ for face-viewer (run it from FOLDER) and prints the binding summary\n"
    "  --mesh I          the file's mesh I (default: the one with the most triangles); a list\n"
    "                    (--mesh 0,3,5) or all of them (--mesh all) are joined into one\n"
    "  --crease DEG      corners at one position with equal texture coordinates join when\n"
    "                    their normals differ by less than DEG degrees (default 60)\n"
    "  --height H        height along the up axis in model units (default 16; with\n"
    "                    --expressions, the face as large as the default face's)\n"
    "  --up AXIS         the source's up axis: x, y, z, -x, -y or -z (default: the file's\n"
    "                    own where it or its format states them, else y)\n"
    "  --front AXIS      the source's front axis (default: the file's own, else z)\n"
    "  --keep-placement  keep the source's coordinates (no centring, turning or scaling)\n"
    "  --cage CAGE       the control mesh from this file (placed like MESH); default: the\n"
    "                    render mesh simplified, repaired and refined, at most --points K\n"
    "  --fit-cage        with --cage: move its points (count and numbering kept) so that\n"
    "                    the surface fits the render mesh\n"
    "  --points K        points of the automatic control mesh, at most (default 240, at\n"
    "                    least 88)\n"
    "  --texture IMAGE   skin texture (PNG, JPEG, TGA, BMP; default: the mesh's own)\n"
    "  --expressions     the default face fitted to the head by its landmarks as the control\n"
    "                    mesh, and its expression library (ARKit's names) carried into\n"
    "                    FOLDER/poses/; the landmarks found on the mesh are written to\n"
    "                    FOLDER/landmarks.txt, the head placed by its face's own axes\n"
    "  --landmarks FILE  with --expressions: the landmarks from FILE (NAME X Y Z a line, in\n"
    "                    the mesh file's coordinates; those missing are guessed)\n"
    "  --threads N       threads for the binding, the fit and the measurements (default:\n"
    "                    every core; the result is the same for every N)\n";

constexpr float defaultHeight = 16.0f;
// The parts left behind by the surface that are named, the largest first.
constexpr size_t maxNamedParts = 5;
// A light neutral skin tone for meshes without a texture.
constexpr uint8_t neutralSkin[3] = {224, 186, 160};

struct Options {
    const char* mesh = nullptr;
    const char* out = nullptr;
    const char* cage = nullptr;
    const char* texture = nullptr;
    MeshSelection meshes;
    float crease = defaultCreaseDegrees;
    int32_t points = defaultControlPoints;
    int32_t threads = 0; // 0: every core
    float height = defaultHeight;
    bool heightGiven = false; // --height: else 16, or with --expressions the face's size
    Vector3 up = {0.0f, 1.0f, 0.0f};
    Vector3 front = {0.0f, 0.0f, 1.0f};
    bool upGiven = false; // --up, --front: else the file's axes
    bool frontGiven = false;
    bool keepPlacement = false;
    bool fitCage = false; // --fit-cage
    bool pointsGiven = false;
    bool expressions = false;        // --expressions
    const char* landmarks = nullptr; // --landmarks
    bool help = false;               // --help or -h: the usage only
};

// A mesh left out with at least this share of the triangles of the one taken is as large as
// it: the halves of a mirrored body differ by a few triangles at most.
constexpr double alikeMeshShare = 0.9;

// What the import found, printed only once everything has been checked, so that a refused
// input prints nothing but its one line.
std::string pending;

// Warnings, written to standard error with the findings.
std::string warnings;

// What the import is doing, for the out-of-memory message.
const char* activity = "starting";

__attribute__((format(printf, 1, 2))) void report(const char* format, ...) {
    char line[1024];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(line, sizeof line, format, arguments);
    va_end(arguments);
    pending += line;
}

constexpr char program[] = "face-import";

int usage(const std::string& problem) {
    std::fprintf(stderr, "face-import: %s\n%s", problem.c_str(), usageText);
    return 2;
}

// getopt_long's codes for the long options; -h and --help share 'h'.
enum OptionCode {
    optionOut = 256,
    optionCage,
    optionTexture,
    optionMesh,
    optionCrease,
    optionPoints,
    optionHeight,
    optionUp,
    optionFront,
    optionKeepPlacement,
    optionFitCage,
    optionThreads,
    optionExpressions,
    optionLandmarks
};

const option longOptions[] = {{"out", required_argument, nullptr, optionOut},
                              {"cage", required_argument, nullptr, optionCage},
                              {"texture", required_argument, nullptr, optionTexture},
                              {"mesh", required_argument, nullptr, optionMesh},
                              {"crease", required_argument, nullptr, optionCrease},
                              {"points", required_argument, nullptr, optionPoints},
                              {"height", required_argument, nullptr, optionHeight},
                              {"up", required_argument, nullptr, optionUp},
                              {"front", required_argument, nullptr, optionFront},
                              {"keep-placement", no_argument, nullptr, optionKeepPlacement},
                              {"fit-cage", no_argument, nullptr, optionFitCage},
                              {"threads", required_argument, nullptr, optionThreads},
                              {"expressions", no_argument, nullptr, optionExpressions},
                              {"landmarks", required_argument, nullptr, optionLandmarks},
                              {"help", no_argument, nullptr, 'h'},
                              {nullptr, 0, nullptr, 0}};

// What is wrong with an argument that starts with '-' but is not an option as written.
std::string notAnOption(const std::string& arg, bool last) {
    return last ? arg + " needs a value" : "unknown option '" + arg + "'";
}

bool parseArguments(Options& o, std::string& problem, int argc, char** argv) {
    // "-": arguments are taken in the order given, a mesh file among them (code 1), so the
    // first problem is the one reported. ":" and opterr = 0: getopt prints nothing of its own
    // and tells a missing value apart.
    opterr = 0;
    while (optind < argc) {
        const std::string arg = argv[optind];
        const bool last = optind + 1 == argc;
        int index = -1;
        const int code = getopt_long(argc, argv, "-:h", longOptions, &index);
        if (code == 1) {
            if (o.mesh)
                return problem = "more than one mesh file", false;
            o.mesh = optarg;
            continue;
        }
        // getopt also takes abbreviations, "--out=FOLDER", letters run together after one '-'
        // and stops at "--": an option counts only as written in full, its value the next
        // argument.
        if (code == -1 || code == '?' || code == ':' ||
            arg != (index >= 0 ? std::string("--") + longOptions[index].name : "-h"))
            return problem = notAnOption(arg, last), false;
        switch (code) {
        case 'h':
            o.help = true;
            return true;
        case optionKeepPlacement:
            o.keepPlacement = true;
            break;
        case optionFitCage:
            o.fitCage = true;
            break;
        case optionExpressions:
            o.expressions = true;
            break;
        case optionLandmarks:
            o.landmarks = optarg;
            break;
        case optionOut:
            o.out = optarg;
            break;
        case optionCage:
            o.cage = optarg;
            break;
        case optionTexture:
            o.texture = optarg;
            break;
        case optionMesh:
            if (!parseMeshSelection(o.meshes, optarg))
                return problem = "--mesh takes a mesh index, a list of them (0,3,5) or all", false;
            break;
        case optionCrease:
            if (!parseFinite(o.crease, optarg) || !(o.crease >= 0.0f && o.crease <= 180.0f))
                return problem = "--crease takes an angle from 0 to 180 degrees", false;
            break;
        case optionPoints:
            o.pointsGiven = true;
            if (!parseInteger(o.points, optarg, minControlPointCount))
                return problem = "--points takes a count of at least " +
                                 std::to_string(minControlPointCount),
                       false;
            break;
        case optionThreads:
            if (!parseThreadCount(o.threads, optarg, problem))
                return false;
            break;
        case optionHeight:
            if (!parseFinite(o.height, optarg) || !(o.height > 0.0f))
                return problem = "--height takes a positive number", false;
            o.heightGiven = true;
            break;
        default: // --up, --front
            if (!parseAxis(code == optionUp ? o.up : o.front, optarg))
                return problem = arg + " takes x, y, z, -x, -y or -z", false;
            (code == optionUp ? o.upGiven : o.frontGiven) = true;
        }
    }
    if (!o.mesh)
        return problem = "no mesh file", false;
    if (!o.out)
        return problem = "no --out folder", false;
    if (o.fitCage && !o.cage)
        return problem = "--fit-cage needs --cage", false;
    if (o.landmarks && !o.expressions)
        return problem = "--landmarks needs --expressions", false;
    if (o.expressions && (o.cage || o.pointsGiven))
        return problem = "--expressions makes the control mesh (the default face's, fitted): it "
                         "takes no --cage or --points",
               false;
    if (o.upGiven && o.frontGiven && dot(o.up, o.front) != 0.0f)
        return problem = "--up and --front must be different axes", false;
    return true;
}

// The skin texture's file: relative names are looked up beside the mesh file, then by
// their last component there (exporters often store absolute paths of another machine).
std::string findTexture(const std::string& meshFile, std::string name) {
    for (char& c : name)
        if (c == '\\')
            c = '/';
    const std::filesystem::path folder = std::filesystem::path(meshFile).parent_path();
    const std::filesystem::path candidates[] = {
        std::filesystem::path(name).is_absolute() ? std::filesystem::path(name) : folder / name,
        folder / std::filesystem::path(name).filename()};
    std::error_code unused;
    for (const std::filesystem::path& candidate : candidates)
        if (std::filesystem::is_regular_file(candidate, unused))
            return candidate.string();
    return std::string();
}

// The source's up and front axes: --up and --front where given, the file's own for the rest.
// why receives the reason for face-import's line. Returns false with problem when the two
// are not different axes.
bool chooseAxes(Vector3& up, Vector3& front, std::string& why, std::string& problem,
                const Options& o, const StatedAxes& stated) {
    up = o.upGiven ? o.up : stated.up;
    front = o.frontGiven ? o.front : stated.front;
    const std::string file = stated.source.empty() ? "default" : stated.source;
    if (o.upGiven && o.frontGiven)
        why = "given by --up and --front";
    else if (o.upGiven || o.frontGiven)
        why = std::string(o.upGiven ? "up given by --up, front" : "front given by --front, up") +
              " by " + file;
    else if (!stated.source.empty())
        why = stated.source + "; --up and --front change them";
    else
        why = (stated.note.empty() ? "the file states no axes" : stated.note) +
              "; --up and --front change them";
    if (dot(up, front) == 0.0f)
        return true;
    problem = std::string(o.upGiven ? "--up " : "--front ") + axisName(o.upGiven ? up : front) +
              " is along the " + (o.upGiven ? "front " : "up ") + axisName(o.upGiven ? front : up) +
              ", by " + file + "; give " + (o.upGiven ? "--front" : "--up") + " too";
    return false;
}

// The warning for a file that states no axes: the up and front of the face found on the mesh
// (findFace), nothing where they are the axes taken; where no face is found, that none was.
std::string axesWarning(const char* file, const Vector3& up, const Vector3& front,
                        const ImportedMesh& mesh) {
    FaceTemplate face;
    makeDefaultFaceTemplate(face);
    FaceFinding found;
    findFace(found, face, mesh.positions.data(), int32_t(mesh.positions.size()),
             mesh.triangles.data(), int32_t(mesh.triangles.size()));
    const std::string line = std::string("face-import: warning: ") + file +
                             " states no axes and its format has no convention: taken up " +
                             axisName(up) + ", front " + axisName(front) + "; ";
    if (!found.found)
        return line + found.problem + "; if the head lies or faces away, give --up and --front\n";
    Vector3 faceUp, faceFront;
    nearestAxes(faceUp, faceFront, found.up, found.front);
    if (faceUp == up && faceFront == front)
        return std::string();
    char text[320];
    std::snprintf(text, sizeof text,
                  "its face (found on the mesh, agreeing %.2f with a face's depth) has up (%.2f "
                  "%.2f %.2f) and looks along (%.2f %.2f %.2f): --up %s --front %s stands it "
                  "facing the viewer\n",
                  double(found.score), double(found.up.x), double(found.up.y), double(found.up.z),
                  double(found.front.x), double(found.front.y), double(found.front.z),
                  axisName(faceUp), axisName(faceFront));
    return line + text;
}

// The picture beside the mesh file named after it (sydney.bmp beside sydney.md2), with one of
// the extensions of the formats readPicture takes, in either case; else the first, by name,
// whose name starts with the mesh's (faerie2.bmp beside faerie.md2): "" when there is none.
std::string findStemPicture(const std::string& meshFile) {
    namespace fs = std::filesystem;
    const char* const extensions[] = {".png", ".jpg", ".jpeg", ".tga", ".bmp",
                                      ".PNG", ".JPG", ".JPEG", ".TGA", ".BMP"};
    fs::path picture(meshFile);
    std::error_code unused;
    for (const char* extension : extensions)
        if (fs::is_regular_file(picture.replace_extension(extension), unused))
            return picture.string();
    const std::string stem = fs::path(meshFile).stem().string();
    fs::path folder = fs::path(meshFile).parent_path();
    if (folder.empty())
        folder = ".";
    std::vector<std::string> named;
    for (const auto& entry : fs::directory_iterator(folder, unused)) {
        const std::string name = entry.path().filename().string();
        const std::string extension = entry.path().extension().string();
        if (name.size() > stem.size() && name.compare(0, stem.size(), stem) == 0 &&
            std::find(std::begin(extensions), std::end(extensions), extension) !=
                std::end(extensions) &&
            fs::is_regular_file(entry.path(), unused))
            named.push_back(entry.path().string());
    }
    std::sort(named.begin(), named.end());
    return named.empty() ? std::string() : named[0];
}

// One warning line for the triangles of a user's control mesh that break one rule: at most
// the first twenty are named.
std::string cageWarning(const char* file, CageFault kind, const std::vector<int32_t>& triangles) {
    constexpr size_t named = 20;
    std::string line = std::string("face-import: warning: ") + file + ": " +
                       std::to_string(triangles.size()) + " control triangles " +
                       cageFaultText(kind) + ": ";
    for (size_t i = 0; i < triangles.size() && i < named; ++i)
        line += (i ? ", " : "") + std::to_string(triangles[i]);
    if (triangles.size() > named)
        line += " and " + std::to_string(triangles.size() - named) + " more";
    return line + "\n";
}

// The file's meshes when it holds several, and which were used (nothing for --mesh I).
void printListing(const MeshFileListing& listing, const ImportedMesh& render,
                  const MeshSelection& selection, const char* file) {
    if (listing.meshes.size() < 2)
        return;
    if (selection.all) {
        report("using all %zu meshes of %s, joined\n", listing.meshes.size(), file);
        return;
    }
    if (selection.indices.size() > 1) {
        // Appended whole: report's line buffer could cut a long list.
        pending += "using meshes";
        for (size_t u = 0; u < render.sources.size(); ++u)
            pending += (u > 0 ? ", " : " ") + std::to_string(render.sources[u].mesh);
        pending +=
            " of the " + std::to_string(listing.meshes.size()) + " in " + file + ", joined\n";
    }
    if (!selection.indices.empty())
        return;
    report("meshes in %s:\n", file);
    for (size_t m = 0; m < listing.meshes.size(); ++m)
        report("  %zu \"%s\": %d vertices, %d triangles\n", m, listing.meshes[m].name.c_str(),
               listing.meshes[m].vertexCount, listing.meshes[m].triangleCount);
    report("using mesh %d, the one with the most triangles (--mesh I, a list such as --mesh "
           "0,3,5 or --mesh all picks others)\n",
           listing.largest);
    // Meshes left out that are as large as the one taken (the two halves of a body, say).
    const int32_t taken = listing.meshes[size_t(listing.largest)].triangleCount;
    std::string alike;
    int32_t count = 0;
    for (size_t m = 0; m < listing.meshes.size(); ++m)
        if (int32_t(m) != listing.largest &&
            double(listing.meshes[m].triangleCount) >= alikeMeshShare * double(taken)) {
            alike += "," + std::to_string(m);
            ++count;
        }
    if (count > 0)
        warnings += "face-import: warning: " + std::string(file) + ": " + std::to_string(count) +
                    (count == 1 ? " mesh left out is" : " meshes left out are") +
                    " as large as mesh " + std::to_string(listing.largest) +
                    " (parts of one body, such as its mirrored halves?): --mesh " +
                    std::to_string(listing.largest) + alike + " takes them together\n";
}

} // namespace

int main(int argc, char** argv) try {
    Options options;
    std::string problem;
    if (!parseArguments(options, problem, argc, argv))
        return usage(problem);
    if (options.help) {
        std::fputs("face-import: makes a data folder for face-viewer from a mesh in any format "
                   "assimp reads, with a control mesh fitted to it\n",
                   stdout);
        std::fputs(usageText, stdout);
        return std::fflush(stdout) == 0 ? 0 : 1;
    }

    if (options.threads > 0)
        setSharedThreadCount(options.threads);

    // Everything is read and checked before anything is written.
    activity = "reading the mesh";
    ImportedMesh render;
    MeshFileListing listing;
    EmbeddedPicture embedded;
    if (!readImportedMesh(render, listing, embedded, options.mesh, options.meshes, options.crease,
                          problem))
        return refuse(program, problem);
    printListing(listing, render, options.meshes, options.mesh);

    // The source's size and time as read, for the record of the import.
    ImportRecord record;
    if (!recordImport(record, options.mesh, render, problem))
        return refuse(program, problem);
    // --expressions: the head's landmarks, in the file's coordinates, from the user's file or
    // found on the mesh; they decide the axes the head stands by.
    DefaultFace defaultFace;
    Landmarks landmarks;
    const int32_t renderCount = int32_t(render.positions.size());
    if (options.expressions) {
        activity = "finding the face";
        buildDefaultFace(defaultFace);
        std::string how;
        if (!headLandmarks(landmarks, how, problem, options.landmarks, options.mesh,
                           render.positions.data(), renderCount, render.triangles.data(),
                           int32_t(render.triangles.size()), defaultFace))
            return refuse(program, problem);
        report("landmarks: %s\n", how.c_str());
    }
    Placement placement = keptPlacement();
    if (!options.keepPlacement) {
        Vector3 up, front;
        std::string why;
        if (!chooseAxes(up, front, why, problem, options, render.axes))
            return refuse(program, std::string(options.mesh) + ": " + problem);
        if (options.expressions && !options.upGiven && !options.frontGiven) {
            faceAxes(up, front, landmarks);
            why = "the face's own, by its landmarks; --up and --front change them";
        }
        if (!computePlacement(placement, render.positions, up, front, options.height, problem))
            return refuse(program, std::string(options.mesh) + ": " + problem);
        report("axes: up %s, front %s: %s\n", axisName(up), axisName(front), why.c_str());
        if (render.axes.source.empty() && !options.upGiven && !options.frontGiven &&
            !options.expressions)
            warnings += axesWarning(options.mesh, up, front, render);
        if (options.expressions && !options.heightGiven) {
            facePlacement(placement.scale, placement.centre, landmarks, up, front, defaultFace);
            report("scale: %.9g (the face laid over the default face's by its landmarks: as "
                   "large, in its place, facing +z; --height H gives the head a height "
                   "instead)\n",
                   float(placement.scale));
        } else {
            report("scale: %.9g (height %.9g along the up axis, centred, facing +z)\n",
                   float(placement.scale), options.height);
        }
        applyPlacement(render.positions, placement);
    }
    if (!render.hasTexCoords) {
        frontPlanarTexCoords(render);
        report("no texture coordinates: a front planar projection is used\n");
    }
    report("render mesh: %zu vertices, %zu triangles\n", render.positions.size(),
           render.triangles.size());
    // The render mesh is final: its part of the model file is formatted on a second thread
    // while the control mesh is made (with --threads 1, when it is written).
    const std::launch aside =
        sharedWorkers().threadCount > 1 ? std::launch::async : std::launch::deferred;
    std::future<std::string> renderSections =
        std::async(aside, [&render] { return renderMeshSections(render); });

    activity = "making the control mesh";
    // The render normals as the model file's reader will compute them.
    std::vector<Vector3> renderNormals(render.positions.size());
    computeMeshNormals(renderNormals.data(), render.positions.data(),
                       static_cast<int32_t>(render.positions.size()), render.triangles.data(),
                       static_cast<int32_t>(render.triangles.size()));
    ControlCage cage;
    FaceFit fit;
    if (options.expressions) {
        // The default face's control mesh, fitted to the head by its landmarks.
        activity = "fitting the default face to the head";
        std::vector<Vector3> placed(landmarks.points, landmarks.points + landmarkCount);
        if (!options.keepPlacement)
            applyPlacement(placed, placement);
        if (!fitDefaultFace(fit, problem, render.positions.data(), renderCount,
                            render.triangles.data(), int32_t(render.triangles.size()),
                            placed.data(), defaultFace))
            return refuse(program, std::string(options.mesh) + ": " + problem);
        cage.points = fit.controlPoints;
        cage.triangles = fit.controlTriangles;
        report("control mesh: the default face's, %zu points, %zu triangles, fitted to the head "
               "by its landmarks\n",
               cage.points.size(), cage.triangles.size());
        std::string text;
        describeFit(text, fit);
        pending += text;
    } else if (options.cage) {
        ImportedMesh source;
        MeshFileListing cageListing;
        EmbeddedPicture unused;
        if (!readImportedMesh(source, cageListing, unused, options.cage, MeshSelection(),
                              defaultCreaseDegrees, problem))
            return refuse(program, problem);
        if (!options.keepPlacement)
            applyPlacement(source.positions, placement);
        weldPositions(cage, source.positions, source.triangles);
        if (static_cast<int32_t>(cage.points.size()) < minControlPointCount)
            return refuse(program, std::string(options.cage) + ": the control mesh has " +
                                       std::to_string(cage.points.size()) + " points, fewer than " +
                                       std::to_string(minControlPointCount));
        report("control mesh: %s, %zu points, %zu triangles\n", options.cage, cage.points.size(),
               cage.triangles.size());
        // The user's control mesh is taken as it is; what breaks a rule is named.
        std::vector<Vector3> surfaceNormals;
        nearestSurfaceNormals(surfaceNormals, cage, render.positions, renderNormals);
        CageFaults faults;
        findCageFaults(faults, cage, surfaceNormals);
        for (int kind = 0; kind < cageFaultCount; ++kind)
            if (!faults.triangles[kind].empty())
                warnings += cageWarning(options.cage, CageFault(kind), faults.triangles[kind]);
        if (options.fitCage) {
            // Fitted to an even sample of a large mesh, as the automatic control mesh is.
            std::vector<Vector3> positions, normals;
            evenSample(positions, normals, render.positions, renderNormals, maxFitVertices);
            FitReport fitted;
            fitCage(cage, fitted, positions, normals, surfaceNormals, userCageFitSteps);
            report("  fitted to the render surface in %d steps: loss %.6g before, %.6g after\n",
                   fitted.iterations, fitted.lossBefore, fitted.lossAfter);
        }
    } else {
        CageReport made;
        // Chosen on the mesh's canonical form, on a grid of its height (of its box's largest
        // side where it keeps the file's coordinates).
        float height = options.height;
        if (options.keepPlacement) {
            Vector3 low = render.positions[0], high = render.positions[0];
            for (const Vector3& p : render.positions) {
                low = {std::min(low.x, p.x), std::min(low.y, p.y), std::min(low.z, p.z)};
                high = {std::max(high.x, p.x), std::max(high.y, p.y), std::max(high.z, p.z)};
            }
            height = std::max(high.x - low.x, std::max(high.y - low.y, high.z - low.z));
        }
        CanonicalMesh canonical;
        makeCanonicalMesh(canonical, render.positions, renderNormals, render.triangles,
                          canonicalGrid(height > 0.0f ? height : 1.0f));
        BoundVertices renderVertices{render.positions, renderNormals};
        if (!makeAutomaticCage(cage, made, problem, canonical, renderVertices, options.points,
                               minControlPointCount)) {
            // Which meshes were used, and whether all of them would have given enough.
            std::string choice;
            describeMeshChoice(choice, listing, render, minControlPointCount);
            return refuse(program,
                          std::string(options.mesh) + ": " + problem + " (" + choice + ")");
        }
        report("control mesh: automatic, %zu points (asked %d), %zu triangles\n",
               cage.points.size(), options.points, cage.triangles.size());
        report("  simplified to %d points; %d edges flipped, %d collapsed, %d triangles dropped, "
               "%d render vertices inserted in %d rounds; fitted to the render surface in %d "
               "steps\n",
               made.simplifiedPoints, made.flips, made.collapses, made.dropped, made.inserted,
               made.rounds, made.fitSteps);
    }
    if (cage.triangles.size() > size_t(maxControlTriangleCount))
        return refuse(program, "the control mesh has more than " +
                                   std::to_string(maxControlTriangleCount) + " triangles");

    activity = "reading the skin texture";
    DecodedImage skin;
    if (options.texture) {
        if (!readPicture(skin, options.texture, problem))
            return refuse(program, problem);
        report("skin texture: %s\n", options.texture);
    } else if (!embedded.bytes.empty()) {
        if (!decodeEmbeddedPicture(skin, embedded, problem))
            return refuse(program, std::string(options.mesh) + ": " + problem);
        report("skin texture: embedded in %s\n", options.mesh);
    } else {
        const std::string file =
            render.texture.empty() ? std::string() : findTexture(options.mesh, render.texture);
        // A texture named but not found (or a placeholder, such as the one assimp names for
        // an MD2 skin it cannot name): the picture beside the mesh named after it.
        const std::string beside =
            render.texture.empty() || !file.empty() ? std::string() : findStemPicture(options.mesh);
        // What the mesh names, for the lines below; assimp's own placeholders start with '$'.
        const std::string named = render.texture.empty() || render.texture[0] != '$'
                                      ? render.texture
                                      : "assimp's placeholder " + render.texture;
        if (!file.empty() && readPicture(skin, file, problem)) {
            report("skin texture: %s\n", file.c_str());
        } else if (!beside.empty() && readPicture(skin, beside, problem)) {
            report("skin texture: %s, the picture beside the mesh named after it (the mesh "
                   "names %s, not found; --texture FILE takes another)\n",
                   beside.c_str(), named.c_str());
        } else {
            if (!render.texture.empty())
                report("skin texture: %s not found or unreadable, a neutral tone instead "
                       "(--texture FILE gives one)\n",
                       named.c_str());
            else
                report("skin texture: none in the mesh, a neutral tone instead (--texture FILE "
                       "gives one)\n");
            solidPicture(skin, neutralSkin[0], neutralSkin[1], neutralSkin[2]);
        }
    }
    limitPictureSide(skin, maxSkinSide);

    std::fputs(pending.c_str(), stdout);
    std::fputs(warnings.c_str(), stderr);
    // The summary of what the viewer will read: the model file holds the arrays exactly
    // (nine significant digits round-trip every float, and the reader restores the
    // triangles' order), and the reader computes the render normals as here, so the face
    // model is built from the arrays in memory rather than from the file read again.
    const std::string modelFile = std::string(options.out) + "/" + sceneModelFile;
    ModelData counts; // faceModelFits judges the counts alone
    counts.renderVertexCount = static_cast<int32_t>(render.positions.size());
    counts.renderTriangleCount = static_cast<int32_t>(render.triangles.size());
    counts.controlPointCount = static_cast<int32_t>(cage.points.size());
    counts.controlTriangleCount = static_cast<int32_t>(cage.triangles.size());
    if (!faceModelFits(problem, counts, modelFile.c_str()))
        return refuse(program, problem);
    // The folder is written on a second thread while the model is bound and its
    // amplification measured: on a 1M-vertex scan each takes over a second (with
    // --threads 1, after them).
    activity = "writing the data folder and binding the model";
    std::vector<std::string> replaced;
    existingDataFiles(replaced, options.out);
    // The folder's files and the record replace an earlier import's together, once all are
    // written whole: an interrupt or a failure leaves the earlier import as it was.
    FileBatch batch;
    openFileBatch(batch);
    std::string writeProblem;
    std::future<bool> written = std::async(aside, [&] {
        std::string sections = renderSections.get();
        return writeDataFolder(options.out, sections, cage, skin, writeProblem);
    });
    FaceModel model(cage.points.data(), counts.controlPointCount, cage.triangles.data(),
                    counts.controlTriangleCount, render.positions.data(), renderNormals.data(),
                    render.texCoords.data(), counts.renderVertexCount, render.triangles.data(),
                    counts.renderTriangleCount);
    BindingAmplification amplification;
    VertexAmplification values;
    measureAmplification(amplification, values, model, cage.points.data());
    if (!written.get())
        return refuse(program, writeProblem);
    // --expressions: the library carried to the fitted control mesh, checked on the head and
    // written into the folder with the landmarks, in the same batch.
    LibraryTransfer transfer;
    FaceRegion region;
    if (options.expressions) {
        activity = "carrying the expression library";
        std::vector<Expression> expressions;
        buildExpressions(expressions, defaultFace);
        std::vector<NamedPose> library;
        expressionPoses(library, expressions);
        transferLibrary(transfer, model, fit, defaultFace, library);
        model.update(model.renderPositions.get(), model.renderNormals.get(), cage.points.data());
        measureFaceRegion(region, model, render.positions.data(), renderCount, fit);
        if (!writeHeadLibrary(options.out, transfer.poses, landmarks, options.mesh, problem))
            return refuse(program, problem);
    }
    record.scale = float(placement.scale);
    std::copy(&placement.rotation[0][0], &placement.rotation[0][0] + 9, &record.rotation[0][0]);
    record.centre = {float(placement.centre[0]), float(placement.centre[1]),
                     float(placement.centre[2])};
    const std::string recordFile = std::string(options.out) + "/" + importRecordFile;
    if (!writeImportRecord(recordFile.c_str(), record, problem) || !commitFileBatch(batch, problem))
        return refuse(program, problem);
    std::printf("wrote %s/data (model, skin texture, four empty props)\n", options.out);
    std::printf("wrote %s (the way back to %s's scene: face-inspect --export-scene)\n",
                recordFile.c_str(), options.mesh);
    if (!replaced.empty()) {
        std::string names;
        for (const std::string& name : replaced)
            names += (names.empty() ? "" : ", ") + std::filesystem::path(name).filename().string();
        std::printf("replaced %zu files of an earlier import in %s/data: %s\n", replaced.size(),
                    options.out, names.c_str());
    }
    printModelSummary(model, cage.points.data(), counts.controlPointCount, amplification);
    if (options.expressions) {
        std::printf("face region: %d render vertices within %.0f %% of the face's height of "
                    "the fitted face, %.2f %% attached\n",
                    region.vertices, 100.0 * double(faceRegionReach),
                    region.vertices > 0 ? 100.0 * region.attached / region.vertices : 0.0);
        std::string text;
        describeTransfer(text, transfer);
        describeKeyPoses(text, transfer.checks);
        std::fputs(text.c_str(), stdout);
        std::printf("wrote %s/poses (%zu expressions) and %s/landmarks.txt\n", options.out,
                    transfer.poses.size(), options.out);
    }
    // The parts of the render mesh the surface does not reach, one line each.
    std::vector<LeftBehind> parts;
    if (options.expressions) {
        // The fitted face covers the face alone: the rest of the head stays at rest.
        int32_t beyond = 0;
        for (int32_t v = 0; v < renderCount; ++v)
            beyond += model.attachments[v].subPatch < 0 ? 1 : 0;
        if (beyond > 0)
            std::printf("beyond the face: %d render vertices (the back of the head, ears, neck) "
                        "stay at rest\n",
                        beyond);
    } else
        findPartsLeftBehind(parts, model, render.positions);
    for (size_t p = 0; p < parts.size() && p < maxNamedParts; ++p)
        std::fprintf(
            stderr,
            "face-import: warning: %d render vertices in the %s stay behind (a part "
            "too thin for the control mesh at %zu points; more --points or a --cage of "
            "your own reach it)\n",
            parts[p].count,
            regionName(render.positions[size_t(parts[p].vertex)], render.positions).c_str(),
            cage.points.size());
    if (parts.size() > maxNamedParts)
        std::fprintf(stderr, "face-import: warning: %zu more parts stay behind\n",
                     parts.size() - maxNamedParts);
    // Each part where a drag throws vertices beyond the aims (1.5 for moves of 0.1, 2 for
    // moves of 1) is named with where it happens and why, the worst first.
    std::vector<ThrownPart> thrown;
    findPartsThrown(thrown, model, render.positions, values.small, values.unit, targetAmplification,
                    targetUnitAmplification);
    for (size_t p = 0; p < thrown.size() && p < maxNamedParts; ++p) {
        const int32_t v = thrown[p].vertex;
        const Attachment& a = model.attachments[v];
        const int32_t* c = model.controlTriangles[a.subPatch / 3].index;
        const bool unitMove = values.unit[size_t(v)] / targetUnitAmplification >
                              values.small[size_t(v)] / targetAmplification;
        std::fprintf(stderr,
                     "face-import: warning: %d render %s thrown beyond the aims in the %s (%g "
                     "for moves of 0.1, %g for moves of 1): %.3g and %.3g at most; the worst, "
                     "render vertex %d on control triangle %d (control points %d, %d, %d) when "
                     "moving %d: %s; more --points or a --cage of your own help\n",
                     thrown[p].count, thrown[p].count == 1 ? "vertex is" : "vertices are",
                     regionName(render.positions[size_t(v)], render.positions).c_str(),
                     double(targetAmplification), double(targetUnitAmplification),
                     double(thrown[p].small), double(thrown[p].unit), v, a.subPatch / 3, c[0], c[1],
                     c[2], unitMove ? values.unitWorst[size_t(v)] : values.smallWorst[size_t(v)],
                     thrownCause(model, cage.points.data(), v, unitMove).c_str());
    }
    if (thrown.size() > maxNamedParts) {
        int32_t more = 0;
        for (size_t p = maxNamedParts; p < thrown.size(); ++p)
            more += thrown[p].count;
        std::fprintf(stderr,
                     "face-import: warning: %zu more parts (%d render vertices) thrown beyond "
                     "the aims\n",
                     thrown.size() - maxNamedParts, more);
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
} catch (const std::bad_alloc&) {
    std::fprintf(stderr, "face-import: out of memory while %s\n", activity);
    return 1;
}
