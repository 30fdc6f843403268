// face-inspect: a command-line view of a face model file for the people who build models.
// Summary by default; --dump prints the attachments, the sub-patches, the edge table or
// the deformed render mesh, one record per line, numbers with %.9g.
#include "app/degenerate_geometry.h"
#include "face/face_model.h"
#include "io/model_file.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

namespace {

const char usageText[] =
    "usage: face-inspect [--search index|exhaustive] [--dump WHAT [--move I DX DY DZ]...] MODEL\n"
    "  without --dump: summary (counts, attached vertices, weight minimum and median,\n"
    "                  time to read and to construct and bind)\n"
    "  --dump attachments  per render vertex: subPatch weight u v o1 o2 o3 nc1 nc2 nc3\n"
    "                      (an unattached vertex: -1 0)\n"
    "  --dump patches      per sub-patch: b300 b210 b201 b120 b030 b111 b102 b021 b012 b003\n"
    "  --dump edges        E; E lines a b; per control triangle its three edge references\n"
    "  --dump positions    per render vertex after one update: x y z nx ny nz\n"
    "  --move I DX DY DZ   with --dump positions: add (DX, DY, DZ) to control point I first\n"
    "                      (any number of times)\n"
    "  --search            nearest-sample search of the binding (default index; both give\n"
    "                      the same attachments)\n";

// The model file while it is read and the face model built from it, for the out-of-memory
// message.
const char* loadingFile = nullptr;

enum class Dump { none, attachments, patches, edges, positions };

struct Move {
    long index;
    float delta[3];
};

struct Options {
    Dump dump = Dump::none;
    SampleSearch search = SampleSearch::indexed;
    std::vector<Move> moves;
    const char* model = nullptr;
};

int usage(const char* problem) {
    std::fprintf(stderr, "face-inspect: %s\n%s", problem, usageText);
    return 2;
}

bool parseFloat(float& value, const char* text) {
    char* end = nullptr;
    value = std::strtof(text, &end);
    return end != text && *end == '\0' && std::isfinite(value);
}

bool parseIndex(long& value, const char* text) {
    char* end = nullptr;
    value = std::strtol(text, &end, 10);
    return end != text && *end == '\0' && value >= 0;
}

// Reads the arguments into options; on a bad argument returns false with the problem.
bool parseArguments(Options& options, std::string& problem, int argc, char** argv) {
    bool dumpGiven = false, searchGiven = false;
    for (int a = 1; a < argc; ++a) {
        const std::string arg = argv[a];
        if (arg == "--dump") {
            if (dumpGiven || a + 1 >= argc)
                return problem = "--dump takes attachments, patches, edges or positions, once",
                       false;
            const std::string what = argv[++a];
            dumpGiven = true;
            if (what == "attachments")
                options.dump = Dump::attachments;
            else if (what == "patches")
                options.dump = Dump::patches;
            else if (what == "edges")
                options.dump = Dump::edges;
            else if (what == "positions")
                options.dump = Dump::positions;
            else
                return problem = "unknown dump '" + what + "'", false;
        } else if (arg == "--search") {
            if (searchGiven || a + 1 >= argc)
                return problem = "--search takes index or exhaustive, once", false;
            const std::string how = argv[++a];
            searchGiven = true;
            if (how == "index")
                options.search = SampleSearch::indexed;
            else if (how == "exhaustive")
                options.search = SampleSearch::exhaustive;
            else
                return problem = "unknown search '" + how + "'", false;
        } else if (arg == "--move") {
            Move move;
            if (a + 4 >= argc || !parseIndex(move.index, argv[a + 1]) ||
                !parseFloat(move.delta[0], argv[a + 2]) ||
                !parseFloat(move.delta[1], argv[a + 3]) || !parseFloat(move.delta[2], argv[a + 4]))
                return problem = "--move takes a control point index and three finite numbers",
                       false;
            options.moves.push_back(move);
            a += 4;
        } else if (arg.size() > 1 && arg[0] == '-') {
            return problem = "unknown option '" + arg + "'", false;
        } else {
            if (options.model)
                return problem = "more than one model file", false;
            options.model = argv[a];
        }
    }
    if (!options.model)
        return problem = "no model file", false;
    if (!options.moves.empty() && options.dump != Dump::positions)
        return problem = "--move needs --dump positions", false;
    return true;
}

double millisecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

void printVector(const Vector3& v) { std::printf("%.9g %.9g %.9g", v.x, v.y, v.z); }

void printSummary(const FaceModel& model, const ModelData& data, double readMs, double bindMs,
                  SampleSearch search) {
    std::vector<float> weights;
    for (int32_t i = 0; i < model.renderVertexCount; ++i)
        if (model.attachments[i].subPatch >= 0)
            weights.push_back(model.attachments[i].weight);
    const int32_t N = model.renderVertexCount;
    const size_t attached = weights.size();
    std::printf("control points (K): %d\n", data.controlPointCount);
    std::printf("control triangles (L): %d\n", model.controlTriangleCount);
    std::printf("edges (E): %d\n", model.edgeCount);
    std::printf("render vertices (N): %d\n", N);
    std::printf("render triangles (M): %d\n", model.renderTriangleCount);
    std::printf("sub-patches: %d\n", 3 * model.controlTriangleCount);
    std::printf("samples: %d\n", model.sampleCount);
    std::printf("attached: %zu (%.2f%%)\n", attached,
                N > 0 ? 100.0 * static_cast<double>(attached) / N : 0.0);
    std::printf("unattached: %zu\n", static_cast<size_t>(N) - attached);
    if (attached > 0) {
        // The lower median of the attached vertices' weights.
        const auto middle = weights.begin() + static_cast<long>((attached - 1) / 2);
        std::nth_element(weights.begin(), middle, weights.end());
        const float median = *middle;
        const float minimum = *std::min_element(weights.begin(), weights.end());
        std::printf("weight: minimum %.9g median %.9g\n", minimum, median);
    } else {
        std::printf("weight: no attached vertex\n");
    }
    std::printf("read: %.3f ms\n", readMs);
    std::printf("construct and bind: %.3f ms (%s search)\n", bindMs,
                search == SampleSearch::indexed ? "index" : "exhaustive");
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

} // namespace

int main(int argc, char** argv) try {
    Options options;
    std::string problem;
    if (!parseArguments(options, problem, argc, argv))
        return usage(problem.c_str());

    const auto readStart = std::chrono::steady_clock::now();
    ModelData data;
    std::string error;
    loadingFile = options.model;
    if (!readModelFile(data, options.model, error) || !faceModelFits(error, data, options.model)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    const double readMs = millisecondsSince(readStart);
    for (const Move& move : options.moves)
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

    switch (options.dump) {
    case Dump::none:
        printSummary(model, data, readMs, bindMs, options.search);
        printDegenerateGeometry(stdout, model, data.controlPoints.get(), data.controlPointCount);
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
    case Dump::positions: {
        Vector3* points = data.controlPoints.get();
        for (const Move& move : options.moves) {
            Vector3& p = points[move.index];
            p = p + Vector3{move.delta[0], move.delta[1], move.delta[2]};
        }
        dumpPositions(model, points);
        break;
    }
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
} catch (const std::bad_alloc&) {
    if (loadingFile)
        std::fprintf(stderr, "face-inspect: out of memory while loading %s\n", loadingFile);
    else
        std::fprintf(stderr, "face-inspect: out of memory\n");
    return 1;
}
