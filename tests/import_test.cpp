// face-import and face-inspect's exports, run as child processes: a third-party head
// (Debian's assimp test models), a round trip of the default face through OBJ, the automatic
// control mesh, the binding picture, and the refusals.
#include "app/viewer.h"
#include "face/face_model.h"
#include "io/model_file.h"
#include "io/texture.h"
#include "tests/support/temp_dir.h"
#include "tests/support/viewer_session.h"

#include <assimp/Importer.hpp>
#include <assimp/postprocess.h>
#include <assimp/scene.h>
#include <gtest/gtest.h>
#include <stb_image.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <tuple>

#include <sys/wait.h>

namespace {

const char iqmFile[] = "/usr/share/assimp/models/IQM/mrfixit.iqm";
const int iqmHead = 1; // the second mesh: the textured head (Head.jpg)

struct ToolRun {
    int status = -1;
    std::string output, errors;
};

ToolRun run(const std::string& program, const std::string& arguments, const TempDir& dir) {
    const std::string errorFile = dir.path + "/stderr.txt";
    ToolRun r;
    FILE* pipe = popen((program + " " + arguments + " 2>" + errorFile).c_str(), "r");
    for (int c; pipe && (c = std::fgetc(pipe)) != EOF;)
        r.output += static_cast<char>(c);
    const int status = pipe ? pclose(pipe) : -1;
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::ifstream errors(errorFile);
    r.errors.assign(std::istreambuf_iterator<char>(errors), {});
    return r;
}
ToolRun runImport(const std::string& arguments, const TempDir& dir) {
    return run(FACE_IMPORT_PATH, arguments, dir);
}
ToolRun inspect(const std::string& arguments, const TempDir& dir) {
    return run(FACE_INSPECT_PATH, arguments, dir);
}

std::string defaultModel() { return std::string(sourceDirectory()) + "/data/retarget.model"; }

std::unique_ptr<FaceModel> buildModel(ModelData& data, const std::string& file) {
    std::string error;
    EXPECT_TRUE(readModelFile(data, file.c_str(), error)) << error;
    return std::make_unique<FaceModel>(data.controlPoints.get(), data.controlPointCount,
                                       data.controlTriangles.get(), data.controlTriangleCount,
                                       data.renderPositions.get(), data.renderNormals.get(),
                                       data.renderTexCoords.get(), data.renderVertexCount,
                                       data.renderTriangles.get(), data.renderTriangleCount);
}

int32_t attachedCount(const FaceModel& model) {
    return static_cast<int32_t>(std::count_if(model.attachments.get(),
                                              model.attachments.get() + model.renderVertexCount,
                                              [](const Attachment& a) { return a.subPatch >= 0; }));
}

// The imported head, made once for the tests that look at it.
class IqmHead : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        if (!std::filesystem::exists(iqmFile))
            return;
        dir = new TempDir;
        result = new ToolRun(runImport(std::string(iqmFile) + " --mesh " + std::to_string(iqmHead) +
                                           " --front x --out " + dir->path,
                                       *dir));
    }
    static void TearDownTestSuite() {
        delete result;
        delete dir;
    }
    void SetUp() override {
        if (!dir)
            GTEST_SKIP() << iqmFile << " is missing (package assimp-testmodels)";
        ASSERT_EQ(result->status, 0) << result->errors;
    }
    static TempDir* dir;
    static ToolRun* result;
};
TempDir* IqmHead::dir = nullptr;
ToolRun* IqmHead::result = nullptr;

TEST_F(IqmHead, KeepsTheTrianglesPlacesThemAndBindsThem) {
    Assimp::Importer importer;
    const aiMesh& file = *importer.ReadFile(iqmFile, aiProcess_Triangulate)->mMeshes[iqmHead];
    ModelData data;
    const auto model = buildModel(data, dir->path + "/data/retarget.model");
    EXPECT_EQ(data.renderTriangleCount, static_cast<int32_t>(file.mNumFaces));
    EXPECT_LE(data.renderVertexCount, static_cast<int32_t>(file.mNumVertices));
    // 16 units tall, centred, and the printed scale is the source height's ratio to that.
    float low[3] = {1e9f, 1e9f, 1e9f}, high[3] = {-1e9f, -1e9f, -1e9f};
    for (int32_t i = 0; i < data.renderVertexCount; ++i) {
        const float* p = &data.renderPositions[i].x;
        for (int c = 0; c < 3; ++c)
            low[c] = std::min(low[c], p[c]), high[c] = std::max(high[c], p[c]);
    }
    EXPECT_NEAR(high[1] - low[1], 16.0f, 1e-4f);
    for (int c = 0; c < 3; ++c)
        EXPECT_NEAR(low[c] + high[c], 0.0f, 1e-4f);
    // The printed scale brings the source's own height to 16.
    const ToolRun kept = runImport(
        std::string(iqmFile) + " --mesh 1 --keep-placement --out " + dir->path + "/kept", *dir);
    ModelData source;
    std::string error;
    ASSERT_TRUE(readModelFile(source, (dir->path + "/kept/data/retarget.model").c_str(), error));
    const auto byHeight = [](const Vector3& a, const Vector3& b) { return a.y < b.y; };
    const auto range =
        std::minmax_element(source.renderPositions.get(),
                            source.renderPositions.get() + source.renderVertexCount, byHeight);
    float scale = 0;
    ASSERT_EQ(std::sscanf(result->output.c_str(), "scale: %f", &scale), 1) << result->output;
    EXPECT_NEAR(scale * (range.second->y - range.first->y), 16.0f, 1e-3f);
    // The foremost vertex (the goggles) faces the camera: the stored winding is the front.
    const Vector3* front = std::max_element(
        data.renderPositions.get(), data.renderPositions.get() + data.renderVertexCount,
        [](const Vector3& a, const Vector3& b) { return a.z < b.z; });
    EXPECT_GT(data.renderNormals[front - data.renderPositions.get()].z, 0.5f);
    EXPECT_EQ(attachedCount(*model), data.renderVertexCount);
}

TEST_F(IqmHead, WritesTheHeadTextureUprightAndTheViewerShowsAndDeformsIt) {
    DecodedImage skin;
    std::string error;
    ASSERT_TRUE(decodeImage(skin, (dir->path + "/data/white_skin.tga").c_str(), error)) << error;
    int width, height, channels;
    const std::string jpeg = std::filesystem::path(iqmFile).parent_path() / "Head.jpg";
    stbi_uc* picture = stbi_load(jpeg.c_str(), &width, &height, &channels, 3);
    ASSERT_NE(picture, nullptr);
    ASSERT_EQ(skin.width, width);
    ASSERT_EQ(skin.height, height);
    EXPECT_TRUE(std::equal(picture, picture + width * height * 3, skin.pixels.get()));
    stbi_image_free(picture);

    ViewerSession viewer(dir->path);
    ASSERT_TRUE(viewer.start()) << viewer.diagnostics();
    // The head's green skin fills the middle of the window, and the red lenses of its goggles
    // show where the texture puts them (upside down, they would be missing there).
    const auto isGreen = [](const uint8_t* p) { return p[1] > p[2] + 15 && p[1] >= p[0]; };
    const auto isRed = [](const uint8_t* p) {
        return p[0] > 60 && p[0] > 2 * p[1] && p[0] > 2 * p[2];
    };
    Screenshot before, after;
    ASSERT_TRUE(viewer.captureUntil(
        before, [&](const Screenshot& s) { return s.count(220, 220, 420, 420, isGreen) > 9000; }));
    EXPECT_GT(before.count(230, 230, 410, 310, isRed), 600)
        << before.count(230, 230, 410, 310, isRed);
    // Drag the foremost control point downwards in deformation mode.
    ModelData data;
    ASSERT_TRUE(readModelFile(data, (dir->path + "/data/retarget.model").c_str(), error));
    const Vector3* p = std::max_element(
        data.controlPoints.get(), data.controlPoints.get() + data.controlPointCount,
        [](const Vector3& a, const Vector3& b) { return a.z < b.z; });
    ViewerState state;
    beginFrame(state);
    const Vector4 ndc = state.camera.project({p->x, p->y, p->z, 1.0f});
    const int x = static_cast<int>((ndc.x + 1) * 320), y = static_cast<int>((1 - ndc.y) * 320);
    viewer.key("space");
    viewer.drag(3, x, y, x, y + 60);
    viewer.key("space");
    int changed = 0;
    EXPECT_TRUE(viewer.captureUntil(after, [&](const Screenshot& s) {
        changed = 0;
        for (size_t i = 0; i < s.rgb.size(); ++i)
            changed += s.rgb[i] != before.rgb[i];
        return changed > 600;
    })) << changed;
}

// Maps the vertices of a onto those of b through their triangles (same order, corner by
// corner); false when a vertex would map to two.
bool vertexMap(std::vector<int32_t>& map, const ModelData& a, const ModelData& b) {
    map.assign(a.renderVertexCount, -1);
    for (int32_t t = 0; t < a.renderTriangleCount; ++t)
        for (int c = 0; c < 3; ++c) {
            int32_t& slot = map[a.renderTriangles[t].index[c]];
            if (slot >= 0 && slot != b.renderTriangles[t].index[c])
                return false;
            slot = b.renderTriangles[t].index[c];
        }
    return true;
}

TEST(FaceImport, DefaultFaceRoundTripsThroughObjWithItsOwnControlMesh) {
    TempDir dir;
    ASSERT_EQ(inspect("--export-obj " + dir.path + "/face.obj " + defaultModel(), dir).status, 0);
    ModelData original;
    const auto before = buildModel(original, defaultModel());
    std::ostringstream cage;
    for (int32_t i = 0; i < original.controlPointCount; ++i)
        cage << "v " << original.controlPoints[i].x << ' ' << original.controlPoints[i].y << ' '
             << original.controlPoints[i].z << '\n';
    for (int32_t t = 0; t < original.controlTriangleCount; ++t) {
        const int32_t* c = original.controlTriangles[t].index;
        cage << "f " << c[0] + 1 << ' ' << c[1] + 1 << ' ' << c[2] + 1 << '\n';
    }
    dir.write("cage.obj", cage.str());
    const ToolRun r = runImport(dir.path + "/face.obj --cage " + dir.path +
                                    "/cage.obj --keep-placement " + "--out " + dir.path + "/out",
                                dir);
    ASSERT_EQ(r.status, 0) << r.errors;

    ModelData copy;
    const auto after = buildModel(copy, dir.path + "/out/data/retarget.model");
    ASSERT_EQ(copy.renderVertexCount, original.renderVertexCount);
    ASSERT_EQ(copy.renderTriangleCount, original.renderTriangleCount);
    std::vector<int32_t> map;
    ASSERT_TRUE(vertexMap(map, original, copy)) << "triangles or winding differ";
    // Positions to print precision (the export is after one update at rest, which places
    // each vertex at its rest position up to rounding).
    int32_t elsewhere = 0;
    for (int32_t i = 0; i < original.renderVertexCount; ++i) {
        const Vector3 p = copy.renderPositions[map[i]], q = original.renderPositions[i];
        ASSERT_LT(length(p - q), 1e-5f) << i;
        ASSERT_NEAR(copy.renderTexCoords[map[i]].u, original.renderTexCoords[i].u, 1e-6f);
        ASSERT_NEAR(copy.renderTexCoords[map[i]].v, original.renderTexCoords[i].v, 1e-6f);
        // The same binding: attached alike, with the same weight, at the same surface point
        // (but for rounding-level ties between the samples two sub-patches share on an edge).
        const Attachment &a = before->attachments[i], &b = after->attachments[map[i]];
        ASSERT_EQ(a.subPatch < 0, b.subPatch < 0) << i;
        ASSERT_NEAR(a.weight, b.weight, 0.01f) << i;
        Vector3 pa, pb;
        SubPatchFrame frame;
        if (before->evaluateFrame(pa, frame, a.subPatch, a.u, a.v) &&
            after->evaluateFrame(pb, frame, b.subPatch, b.u, b.v))
            elsewhere += length(pa - pb) > 1e-3f;
    }
    EXPECT_LT(elsewhere, original.renderVertexCount / 1000);
}

TEST(FaceImport, AutomaticControlMeshLiesOnTheSurfaceAndReachesEveryVertex) {
    TempDir dir;
    ASSERT_EQ(inspect("--export-obj " + dir.path + "/face.obj " + defaultModel(), dir).status, 0);
    for (const int points : {240, 100}) {
        const std::string out = dir.path + "/out" + std::to_string(points);
        const ToolRun r = runImport(dir.path + "/face.obj --keep-placement --points " +
                                        std::to_string(points) + " --out " + out,
                                    dir);
        ASSERT_EQ(r.status, 0) << r.errors;
        ModelData data;
        const auto model = buildModel(data, out + "/data/retarget.model");
        EXPECT_GE(data.controlPointCount, 88);
        EXPECT_LT(std::abs(data.controlPointCount - points), points / 10) << points;
        std::set<std::tuple<float, float, float>> surface;
        for (int32_t i = 0; i < data.renderVertexCount; ++i)
            surface.emplace(data.renderPositions[i].x, data.renderPositions[i].y,
                            data.renderPositions[i].z);
        for (int32_t i = 0; i < data.controlPointCount; ++i)
            EXPECT_TRUE(surface.count(std::make_tuple(
                data.controlPoints[i].x, data.controlPoints[i].y, data.controlPoints[i].z)))
                << "control point " << i << " is not a render vertex";
        EXPECT_EQ(attachedCount(*model), data.renderVertexCount) << points;
    }
}

TEST(InspectOutputs, PictureShowsWeightsAndUnattachedVerticesAndPoseFileMovesLikeMove) {
    TempDir dir;
    // The default face with its right half (x > 0) pushed 2 units off the surface.
    std::ifstream in(defaultModel());
    std::ostringstream shifted;
    int32_t n;
    in >> n;
    shifted << n << '\n';
    for (int32_t i = 0; i < n; ++i) {
        float x, y, z;
        in >> x >> y >> z;
        shifted << x << ' ' << y << ' ' << (x > 0.0f ? z + 2.0f : z) << '\n';
    }
    shifted << in.rdbuf();
    const std::string model = dir.write("shifted.model", shifted.str());
    ASSERT_EQ(inspect("--picture " + dir.path + "/p.png " + model, dir).status, 0);
    int width, height, channels;
    stbi_uc* png = stbi_load((dir.path + "/p.png").c_str(), &width, &height, &channels, 3);
    ASSERT_NE(png, nullptr);
    int red[2] = {0, 0}, yellow[2] = {0, 0}; // left and right of the middle
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const stbi_uc* p = png + 3 * (y * width + x);
            if (std::abs(x - width / 2) < 40) // the seam, where colours blend
                continue;
            red[x > width / 2] += p[0] > 60 && p[1] < p[0] / 4 && p[2] < p[0] / 4;
            yellow[x > width / 2] += p[0] > 60 && p[1] > p[0] * 3 / 4 && p[2] < p[0] / 3;
        }
    stbi_image_free(png);
    EXPECT_GT(yellow[0], 5000);
    EXPECT_EQ(red[0], 0);
    EXPECT_GT(red[1], 5000);
    EXPECT_EQ(yellow[1], 0);

    const std::string pose = dir.write("pose.txt", std::string("# lower lip down\n87 0 -1.5 0\n\n"
                                                               "24 0.5 0 0.25\n"));
    ASSERT_EQ(inspect("--export-obj " + dir.path + "/a.obj --move 87 0 -1.5 0 --move 24 0.5 0 " +
                          "0.25 " + defaultModel(),
                      dir)
                  .status,
              0);
    ASSERT_EQ(
        inspect("--export-obj " + dir.path + "/b.obj --pose " + pose + " " + defaultModel(), dir)
            .status,
        0);
    std::ifstream a(dir.path + "/a.obj"), b(dir.path + "/b.obj");
    const std::string moved((std::istreambuf_iterator<char>(a)), {});
    EXPECT_EQ(moved, std::string((std::istreambuf_iterator<char>(b)), {}));
}

TEST(FaceImport, RefusesBadInputWithOneLineAndWritesNothing) {
    TempDir dir;
    std::string cube;
    for (int i = 0; i < 8; ++i)
        cube += "v " + std::to_string(i & 1) + " " + std::to_string(i >> 1 & 1) + " " +
                std::to_string(i >> 2) + "\n";
    cube += "f 1 3 2\nf 2 3 4\nf 5 6 7\nf 6 8 7\nf 1 2 5\nf 2 6 5\nf 3 7 4\nf 4 7 8\n"
            "f 1 5 3\nf 3 5 7\nf 2 4 6\nf 4 8 6\n";
    const std::string cubeFile = dir.write("cube.obj", cube);
    const std::string lines =
        dir.write("lines.obj", std::string("v 0 0 0\nv 1 0 0\nv 0 1 0\nl 1 2\nl 2 3\n"));
    const std::string badPose = dir.write("bad.pose", std::string("87 0 -1 0\n87 0 x 0\n"));
    const struct {
        std::string program, arguments, message;
    } cases[] = {
        {FACE_IMPORT_PATH, dir.path + "/none.obj", "none.obj: cannot read"},
        {FACE_IMPORT_PATH, lines, "lines.obj: no triangles"},
        {FACE_IMPORT_PATH, iqmFile + std::string(" --mesh 1 --front x --cage ") + cubeFile,
         "cube.obj: the control mesh has 8 points, fewer than 88"},
        {FACE_INSPECT_PATH, "--export-obj " + dir.path + "/out/x.obj --pose " + badPose,
         "bad.pose, line 2: \"x\" is not a finite number"},
    };
    for (const auto& c : cases) {
        const bool inspecting = c.program == FACE_INSPECT_PATH;
        const ToolRun r = run(
            c.program,
            c.arguments + (inspecting ? " " + defaultModel() : " --out " + dir.path + "/out"), dir);
        EXPECT_EQ(r.status, 1) << c.arguments;
        EXPECT_NE(r.errors.find(c.message), std::string::npos) << r.errors;
        EXPECT_EQ(std::count(r.errors.begin(), r.errors.end(), '\n'), 1) << r.errors;
        EXPECT_FALSE(std::filesystem::exists(dir.path + "/out")) << c.arguments;
    }
}

} // namespace
