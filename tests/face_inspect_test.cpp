// face-inspect end to end: the dumps of a model file the test writes against the face
// model built in this process from the same arrays (attachments through the exhaustive
// reference search, positions through the reference update order), the summary, and the
// exit statuses of bad files and bad arguments.
#include "face/face_model.h"
#include "tools/synthetic_model.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace {

// A file name in the temporary directory, unique to this test process (ctest runs the
// tests of this file in parallel processes).
std::vector<std::string> temporaryFiles;
std::string tempPath(const std::string& name) {
    temporaryFiles.push_back(testing::TempDir() + "face_inspect_" + std::to_string(getpid()) + "_" +
                             name);
    return temporaryFiles.back();
}

// Removes the test's temporary files.
class FaceInspect : public ::testing::Test {
  protected:
    void TearDown() override {
        for (const std::string& file : temporaryFiles)
            std::remove(file.c_str());
        temporaryFiles.clear();
    }
};

std::string inspectPath() {
    const std::string viewer = FACE_VIEWER_PATH;
    return viewer.substr(0, viewer.rfind('/')) + "/tools/face-inspect";
}

struct ToolRun {
    int status = -1;
    std::vector<std::string> lines; // standard output
    std::string errors;             // standard error
};

ToolRun runInspect(const std::string& arguments) {
    const std::string errorFile = tempPath("stderr.txt");
    const std::string command = inspectPath() + " " + arguments + " 2>" + errorFile;
    ToolRun run;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return run;
    std::string out;
    char buffer[65536];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        out.append(buffer, n);
    const int status = pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);)
        run.lines.push_back(line);
    std::ifstream errors(errorFile);
    run.errors.assign(std::istreambuf_iterator<char>(errors), std::istreambuf_iterator<char>());
    return run;
}

std::string format(const char* pattern, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char* pattern, ...) {
    char buffer[1024];
    va_list args;
    va_start(args, pattern);
    vsnprintf(buffer, sizeof buffer, pattern, args);
    va_end(args);
    return buffer;
}

std::string vectorText(const Vector3& v) { return format("%.9g %.9g %.9g", v.x, v.y, v.z); }

// Writes data as a model file in the temporary directory.
std::string writeModel(const ModelData& data, const std::string& name) {
    const std::string path = tempPath(name);
    EXPECT_TRUE(writeModelFile(data, path));
    return path;
}

void smallModel(ModelData& data) {
    SyntheticModelShape shape;
    shape.controlCellsX = 4;
    shape.controlCellsY = 5;
    shape.renderCellsX = 20;
    shape.renderCellsY = 24;
    shape.width = 4;
    shape.height = 5;
    shape.amplitude = 0.6f;
    shape.renderNoise = 0.3f;
    shape.controlJitter = 0.05f;
    shape.seed = 21;
    makeSyntheticModel(data, shape);
}

} // namespace

TEST_F(FaceInspect, DumpsAgreeWithTheReferencePaths) {
    ModelData data;
    smallModel(data);
    const std::string path = writeModel(data, "small.model");
    auto model = makeFaceModel(data, SampleSearch::exhaustive);

    std::vector<std::string> attachments;
    int attached = 0;
    for (int32_t i = 0; i < model->renderVertexCount; ++i) {
        const Attachment& a = model->attachments[i];
        attached += a.subPatch >= 0;
        attachments.push_back(
            a.subPatch < 0 ? "-1 0"
                           : format("%d %.9g %.9g %.9g %.9g %.9g %.9g %.9g %.9g %.9g", a.subPatch,
                                    a.weight, a.u, a.v, a.offset[0], a.offset[1], a.offset[2],
                                    a.normalCoords[0], a.normalCoords[1], a.normalCoords[2]));
    }
    ASSERT_GT(attached, 100);
    ASSERT_LT(attached, model->renderVertexCount);
    for (const char* search : {"", "--search exhaustive "}) {
        const ToolRun run = runInspect(std::string(search) + "--dump attachments " + path);
        ASSERT_EQ(run.status, 0) << run.errors;
        EXPECT_EQ(run.lines, attachments) << search;
    }

    std::vector<std::string> patches;
    for (int32_t s = 0; s < 3 * model->controlTriangleCount; ++s)
        patches.push_back(vectorText(model->b300[s]) + " " + vectorText(model->b210[s]) + " " +
                          vectorText(model->b201[s]) + " " + vectorText(model->b120[s]) + " " +
                          vectorText(model->b030[s]) + " " + vectorText(model->b111[s]) + " " +
                          vectorText(model->b102[s]) + " " + vectorText(model->b021[s]) + " " +
                          vectorText(model->b012[s]) + " " + vectorText(model->b003[s]));
    const ToolRun patchRun = runInspect("--dump patches " + path);
    ASSERT_EQ(patchRun.status, 0) << patchRun.errors;
    EXPECT_EQ(patchRun.lines, patches);

    // Two moves, one of them twice on the same point, then one reference-order update.
    std::vector<Vector3> points(data.controlPoints.get(),
                                data.controlPoints.get() + data.controlPointCount);
    points[7] = points[7] + Vector3{0.25f, -0.5f, 0.75f};
    points[7] = points[7] + Vector3{0.125f, 0, 0};
    points[12] = points[12] + Vector3{0, 0, -0.3f};
    model->updateReference(model->renderPositions.get(), model->renderNormals.get(), points.data());
    std::vector<std::string> positions;
    for (int32_t i = 0; i < model->renderVertexCount; ++i)
        positions.push_back(vectorText(model->renderPositions[i]) + " " +
                            vectorText(model->renderNormals[i]));
    const ToolRun moveRun = runInspect("--dump positions --move 7 0.25 -0.5 0.75 "
                                       "--move 12 0 0 -0.3 --move 7 0.125 0 0 " +
                                       path);
    ASSERT_EQ(moveRun.status, 0) << moveRun.errors;
    EXPECT_EQ(moveRun.lines, positions);

    const ToolRun summary = runInspect(path);
    ASSERT_EQ(summary.status, 0) << summary.errors;
    std::string text;
    for (const std::string& line : summary.lines)
        text += line + "\n";
    for (const std::string& expected :
         {format("render vertices (N): %d\n", model->renderVertexCount),
          format("sub-patches: %d\n", 3 * model->controlTriangleCount),
          format("attached: %d (", attached),
          format("unattached: %d\n", model->renderVertexCount - attached)})
        EXPECT_NE(text.find(expected), std::string::npos) << expected << " not in:\n" << text;
}

TEST_F(FaceInspect, BadFilesAndBadArguments) {
    const std::string bad = tempPath("bad.model");
    std::ofstream(bad) << "3\n0 0 0\n1 0 0\n";
    const ToolRun badFile = runInspect("--dump attachments " + bad);
    EXPECT_EQ(badFile.status, 1);
    EXPECT_TRUE(badFile.lines.empty());
    EXPECT_NE(badFile.errors.find(bad), std::string::npos) << badFile.errors;
    EXPECT_EQ(std::count(badFile.errors.begin(), badFile.errors.end(), '\n'), 1) << badFile.errors;

    const ToolRun missing = runInspect(tempPath("no_such.model"));
    EXPECT_EQ(missing.status, 1);

    ModelData data;
    smallModel(data);
    const std::string path = writeModel(data, "args.model");
    for (const std::string& arguments :
         {std::string(""), "--dump " + path, "--dump nothing " + path, "--search fast " + path,
          "--move 1 0 0 0 " + path, "--dump positions --move 1 0 x 0 " + path,
          "--dump positions --move 1000 0 0 0 " + path, "--verbose " + path, path + " " + path}) {
        const ToolRun run = runInspect(arguments);
        EXPECT_EQ(run.status, 2) << arguments;
        EXPECT_NE(run.errors.find("usage: face-inspect"), std::string::npos) << arguments;
        EXPECT_TRUE(run.lines.empty()) << arguments;
    }
}
