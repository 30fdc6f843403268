// Landmark files: every refusal in one line naming the file and the line, a written file
// read back bit for bit, landmarks checked against the mesh and completed from a few; and
// faces found on meshes without landmarks, against landmarks placed by hand.
#include "tests/support/temp_dir.h"
#include "tools/assets/expressions.h"
#include "tools/fit/face_finding.h"
#include "tools/fit/landmarks.h"

#include <assimp/cimport.h>
#include <assimp/postprocess.h>
#include <assimp/scene.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include <cmath>
#include <map>
#include <string>
#include <vector>

namespace {

// The default face's render mesh and its 18 features, built once.
struct DefaultMesh {
    std::vector<Vector3> positions;
    std::vector<Triangle> triangles;
    Landmarks landmarks;
};

const DefaultMesh& defaultMesh() {
    static const DefaultMesh mesh = [] {
        DefaultMesh m;
        DefaultFace face;
        buildDefaultFace(face);
        for (const Point3& p : face.render.positions)
            m.positions.push_back({float(p.x), float(p.y), float(p.z)});
        m.triangles = face.render.triangles;
        for (int32_t i = 0; i < landmarkCount; ++i) {
            m.landmarks.points[i] = m.positions[size_t(face.features.vertex[i])];
            m.landmarks.given[i] = true;
        }
        return m;
    }();
    return mesh;
}

// The default face's landmarks as a file's lines, optionally one of them replaced.
std::string landmarkText(int32_t replaced = -1, const std::string& line = "") {
    std::string text;
    for (int32_t i = 0; i < landmarkCount; ++i) {
        const Vector3& p = defaultMesh().landmarks.points[i];
        text += i == replaced ? line
                              : std::string(faceFeatureNames[i]) + " " + std::to_string(p.x) + " " +
                                    std::to_string(p.y) + " " + std::to_string(p.z) + "\n";
    }
    return text;
}

float distance(const Vector3& a, const Vector3& b) { return length(a - b); }

} // namespace

// Each bad file gives one line: the file, the line at fault (where there is one) and why;
// the landmarks are left as they were.
TEST(LandmarkFile, BadFilesAreRefusedInOneLine) {
    // The face's left eye moved to its right: across the mid-plane from the other left ones.
    const Vector3 outer = defaultMesh().landmarks.points[eyeLeftOuter];
    const std::string crossed = "eye_left_outer " + std::to_string(-outer.x) + " 1.75 3.9\n";
    // Left and right named the viewer's way: every left landmark with its right partner's
    // point.
    std::string swapped;
    for (int32_t i = 0; i < landmarkCount; ++i) {
        const Vector3& p = defaultMesh().landmarks.points[mirrorFeature(FaceFeature(i))];
        swapped += std::string(faceFeatureNames[i]) + " " + std::to_string(p.x) + " " +
                   std::to_string(p.y) + " " + std::to_string(p.z) + "\n";
    }
    const struct {
        const char* name;
        std::string text;
        std::string error; // the whole line expected
    } cases[] = {
        {"three fields", landmarkText(2, "eye_right_outer 1 2\n"),
         "f.txt, line 3: expected \"NAME X Y Z\", found 3 fields"},
        {"a misspelt name", "# a comment\n\neye_left_outr 1 2 3\n",
         "f.txt, line 3: \"eye_left_outr\" is not a landmark (nearest eye_left_outer; the 18 are "
         "eye_left_outer, eye_left_inner, eye_right_outer, eye_right_inner, lid_left_upper, "
         "lid_left_lower, lid_right_upper, lid_right_lower, brow_left_inner, brow_left_outer, "
         "brow_right_inner, brow_right_outer, mouth_left, mouth_right, lip_upper, lip_lower, "
         "nose_tip, chin)"},
        {"a word", "nose_tip 0 abc 1\n", "f.txt, line 1: \"abc\" is not a number (y of nose_tip)"},
        {"nan", "chin 0 0 nan\n",
         "f.txt, line 1: \"nan\" is not a finite 32-bit float (z of chin)"},
        {"too large for a float", "chin 1e39 0 0\n",
         "f.txt, line 1: \"1e39\" is not a finite 32-bit float (x of chin)"},
        {"a name twice", "nose_tip 0 0 1\r\nchin 0 -5 0\r\nnose_tip 0 0 1\r\n",
         "f.txt, line 3: nose_tip is given twice (first on line 1)"},
        {"a left eye on the right", landmarkText(0, crossed),
         "f.txt, line 1: eye_left_outer (-4.62499 1.75 3.9) lies on the face's right of the "
         "mid-plane between its left and right landmarks, across from the others of its side"},
        {"left and right swapped", swapped,
         "f.txt, line 1: the landmarks named left lie on the face's right: with the eyes above "
         "the mouth, the nose tip is behind the face (the face's own left is +x when it looks "
         "along +z with +y up: the viewer's right)"},
        {"no landmark", "# nothing\n",
         "f.txt: too few landmarks to place the face (0 given): it needs one of each eye (a "
         "corner or a lid) and one of the mouth's corners, the lips, the nose tip or the chin"},
        {"the eyes alone", "eye_left_outer 4 2 4\neye_right_outer -4 2 4\n",
         "f.txt: too few landmarks to place the face (2 given): it needs one of each eye (a "
         "corner or a lid) and one of the mouth's corners, the lips, the nose tip or the chin"},
        {"a mouth on the eyes' line",
         "eye_left_outer 4 2 4\neye_right_outer -4 2 4\nlip_upper 0 2 4.5\n",
         "f.txt: the landmarks cannot place the face: the eyes and the mouth (or nose tip or chin) "
         "lie on one line"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Landmarks landmarks;
        landmarks.points[chin] = {7.0f, 8.0f, 9.0f};
        std::string error;
        EXPECT_FALSE(readLandmarkBuffer(landmarks, c.text.data(), c.text.size(), "f.txt", error));
        EXPECT_EQ(error, c.error);
        EXPECT_EQ(landmarks.points[chin], (Vector3{7.0f, 8.0f, 9.0f}));
        EXPECT_FALSE(landmarks.given[chin]);
    }
}

// A partial file is read as it is: the landmarks it names with their lines, the others not
// given; comments, blank lines and CRLF line ends pass.
TEST(LandmarkFile, PartialFilesReadWithTheirLines) {
    const std::string text = "# three\r\n\r\neye_left_inner 1.8 1.75 4.5\r\n"
                             "  eye_right_inner\t-1.8 1.75 4.5 \r\n# nose\r\nnose_tip 0 -1.5 7.5";
    Landmarks landmarks;
    std::string error;
    ASSERT_TRUE(readLandmarkBuffer(landmarks, text.data(), text.size(), "f.txt", error)) << error;
    for (int32_t i = 0; i < landmarkCount; ++i) {
        const long line = i == eyeLeftInner ? 3 : i == eyeRightInner ? 4 : i == noseTip ? 6 : 0;
        EXPECT_EQ(landmarks.given[i], line > 0) << faceFeatureNames[i];
        EXPECT_EQ(landmarks.line[i], line) << faceFeatureNames[i];
    }
    EXPECT_EQ(landmarks.points[eyeRightInner], (Vector3{-1.8f, 1.75f, 4.5f}));
}

// The writer's file reads back the same floats, bit for bit, with every landmark given, and
// says how to use it; an unwritable place is refused in one line.
TEST(LandmarkFile, WrittenFilesReadBackBitForBit) {
    TempDir dir;
    Landmarks written = defaultMesh().landmarks;
    // Floats that need nine digits.
    written.points[noseTip] = {0.1f, -1.0f / 3.0f, 7.55217552f};
    written.points[chin] = {1e-7f, -7.32000017f, 3.40282e38f};
    const std::string file = dir.path + "/landmarks.txt";
    std::string error;
    ASSERT_TRUE(writeLandmarkFile(file.c_str(), written, "head.obj", error)) << error;
    Landmarks read;
    ASSERT_TRUE(readLandmarkFile(read, file.c_str(), error)) << error;
    for (int32_t i = 0; i < landmarkCount; ++i) {
        EXPECT_TRUE(read.given[i]);
        EXPECT_EQ(read.points[i], written.points[i]) << faceFeatureNames[i];
        EXPECT_EQ(read.line[i], 6 + i) << faceFeatureNames[i]; // after five comment lines
    }
    std::string text;
    {
        std::ifstream in(file);
        text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    EXPECT_NE(text.find("#   face-import head.obj --expressions --landmarks " + file + "\n"),
              std::string::npos)
        << text;
    const std::string blocked = dir.write("plain", std::string("x")) + "/landmarks.txt";
    EXPECT_FALSE(writeLandmarkFile(blocked.c_str(), written, "head.obj", error));
    EXPECT_EQ(error.rfind(blocked + ": cannot be written (", 0), 0u) << error;
    EXPECT_EQ(error.find('\n'), std::string::npos);
}

// A landmark far from the mesh is refused naming its line; one on or near it passes.
TEST(LandmarkFile, LandmarksFarFromTheMeshAreRefused) {
    const DefaultMesh& mesh = defaultMesh();
    const auto check = [&](const Landmarks& l, std::string& error) {
        return checkLandmarksOnSurface(l, "f.txt", mesh.positions.data(),
                                       int32_t(mesh.positions.size()), mesh.triangles.data(),
                                       int32_t(mesh.triangles.size()), error);
    };
    Landmarks landmarks = mesh.landmarks;
    for (int32_t i = 0; i < landmarkCount; ++i)
        landmarks.line[i] = 2 + i;
    std::string error;
    EXPECT_TRUE(check(landmarks, error)) << error;
    // The mask's box: 14.2 wide, 17 tall, 10.3 deep; its diagonal 24.3, of which 5 % is 1.22.
    const struct {
        Vector3 offset;
        bool passes;
    } moves[] = {
        {{0.0f, 0.0f, 1.0f}, true},   // in front of the nose tip by 1
        {{0.0f, 0.0f, 1.5f}, false},  // by 1.5
        {{0.0f, 0.0f, -2.0f}, true},  // into the head: the upper lip's surface is near
        {{0.0f, 30.0f, 0.0f}, false}, // far above the head
    };
    for (const auto& m : moves) {
        Landmarks moved = landmarks;
        moved.points[noseTip] = moved.points[noseTip] + m.offset;
        EXPECT_EQ(check(moved, error), m.passes) << m.offset.z;
        if (!m.passes) {
            EXPECT_EQ(error.rfind("f.txt, line 18: nose_tip (", 0), 0u) << error;
            EXPECT_NE(error.find("from the mesh's surface, more than 5 % of its box diagonal"),
                      std::string::npos)
                << error;
        }
    }
}

// A few landmarks on the default face moved, turned and scaled complete to all 18: each
// missing one where the face has it, whichever few are given.
TEST(LandmarkFile, FewLandmarksCompleteToTheFaces) {
    const DefaultMesh& mesh = defaultMesh();
    // A turn of 40 degrees about (1, 2, 3), a scale of 3.7 and a shift.
    const Vector3 axis = normalize(Vector3{1.0f, 2.0f, 3.0f});
    const float angle = 40.0f * float(M_PI) / 180.0f, c = std::cos(angle), s = std::sin(angle);
    const auto move = [&](const Vector3& p) {
        const Vector3 turned = p * c + cross(axis, p) * s + axis * (dot(axis, p) * (1.0f - c));
        return turned * 3.7f + Vector3{100.0f, -20.0f, 5.0f};
    };
    std::vector<Vector3> positions;
    for (const Vector3& p : mesh.positions)
        positions.push_back(move(p));
    const std::vector<std::vector<FaceFeature>> givens = {
        {eyeLeftOuter, eyeRightOuter, noseTip},
        {lidLeftUpper, eyeRightInner, chin, mouthLeft},
        {eyeLeftInner, eyeRightInner, lipUpper, browLeftOuter, browRightOuter},
    };
    for (const auto& given : givens) {
        Landmarks landmarks;
        for (FaceFeature f : given) {
            landmarks.points[f] = move(mesh.landmarks.points[f]);
            landmarks.given[f] = true;
            landmarks.line[f] = 1;
        }
        completeLandmarks(landmarks, mesh.landmarks.points, positions.data(),
                          int32_t(positions.size()), mesh.triangles.data(),
                          int32_t(mesh.triangles.size()));
        for (int32_t i = 0; i < landmarkCount; ++i) {
            EXPECT_TRUE(landmarks.given[i]);
            EXPECT_LT(distance(landmarks.points[i], move(mesh.landmarks.points[i])), 1e-3f * 3.7f)
                << faceFeatureNames[i] << " from " << given.size() << " given";
        }
    }
}

namespace {

// A mesh read by assimp, every mesh of the file joined with its node transforms applied.
bool readMesh(std::vector<Vector3>& positions, std::vector<Triangle>& triangles,
              const std::string& file) {
    const aiScene* scene =
        aiImportFile(file.c_str(), aiProcess_Triangulate | aiProcess_JoinIdenticalVertices |
                                       aiProcess_PreTransformVertices);
    if (!scene)
        return false;
    for (unsigned m = 0; m < scene->mNumMeshes; ++m) {
        const aiMesh* mesh = scene->mMeshes[m];
        const int32_t base = int32_t(positions.size());
        for (unsigned v = 0; v < mesh->mNumVertices; ++v)
            positions.push_back({mesh->mVertices[v].x, mesh->mVertices[v].y, mesh->mVertices[v].z});
        for (unsigned f = 0; f < mesh->mNumFaces; ++f)
            if (mesh->mFaces[f].mNumIndices == 3)
                triangles.push_back({{base + int32_t(mesh->mFaces[f].mIndices[0]),
                                      base + int32_t(mesh->mFaces[f].mIndices[1]),
                                      base + int32_t(mesh->mFaces[f].mIndices[2])}});
    }
    aiReleaseImport(scene);
    return !triangles.empty();
}

// The head's height as these tests measure it: twice the distance from the chin to the middle
// of the eyes' corners.
float headHeight(const Landmarks& l) {
    const Vector3 eyes = (l.points[eyeLeftOuter] + l.points[eyeLeftInner] +
                          l.points[eyeRightOuter] + l.points[eyeRightInner]) *
                         0.25f;
    return 2.0f * distance(l.points[chin], eyes);
}

float degreesBetween(const Vector3& a, const Vector3& b) {
    return std::acos(std::clamp(dot(normalize(a), normalize(b)), -1.0f, 1.0f)) * 180.0f /
           float(M_PI);
}

// Every triangle cut in four at its edges' middles (the middles shared between neighbours).
void subdivide(std::vector<Vector3>& positions, std::vector<Triangle>& triangles) {
    std::map<std::pair<int32_t, int32_t>, int32_t> middles;
    const auto middle = [&](int32_t a, int32_t b) {
        const auto key = std::make_pair(std::min(a, b), std::max(a, b));
        const auto found = middles.find(key);
        if (found != middles.end())
            return found->second;
        positions.push_back((positions[size_t(a)] + positions[size_t(b)]) * 0.5f);
        return middles[key] = int32_t(positions.size()) - 1;
    };
    std::vector<Triangle> cut;
    for (const Triangle& t : triangles) {
        const int32_t a = t.index[0], b = t.index[1], c = t.index[2];
        const int32_t ab = middle(a, b), bc = middle(b, c), ca = middle(c, a);
        cut.push_back({{a, ab, ca}});
        cut.push_back({{ab, b, bc}});
        cut.push_back({{ca, bc, c}});
        cut.push_back({{ab, bc, ca}});
    }
    triangles = cut;
}

const FaceTemplate& defaultTemplate() {
    static const FaceTemplate face = [] {
        FaceTemplate t;
        makeDefaultFaceTemplate(t);
        return t;
    }();
    return face;
}

} // namespace

// The default face moved, turned and scaled is found where its features are.
TEST(FaceFinding, TheDefaultFaceIsFoundHoweverItIsPlaced) {
    const DefaultMesh& mesh = defaultMesh();
    const struct {
        Vector3 axis;
        float degrees, scale;
        Vector3 shift;
        bool dense; // cut in four: more triangles than the search draws, searched on a copy
    } placements[] = {
        {{0, 1, 0}, 0.0f, 1.0f, {0, 0, 0}, false},
        {{1, 0, 0}, 90.0f, 0.01f, {3, 4, 5}, false},      // lying, in metres
        {{1, 2, 3}, 140.0f, 25.0f, {-100, 0, 40}, false}, // any way
        {{0, 0, 1}, 180.0f, 1.0f, {0, 0, 0}, false},      // upside down
        {{0, 1, 1}, 30.0f, 2.0f, {1, 2, 3}, true},
    };
    for (const auto& p : placements) {
        SCOPED_TRACE(p.degrees);
        const Vector3 axis = normalize(p.axis);
        const float a = p.degrees * float(M_PI) / 180.0f, c = std::cos(a), s = std::sin(a);
        const auto turn = [&](const Vector3& v) {
            return v * c + cross(axis, v) * s + axis * (dot(axis, v) * (1.0f - c));
        };
        const auto move = [&](const Vector3& v) { return turn(v) * p.scale + p.shift; };
        std::vector<Vector3> positions;
        for (const Vector3& v : mesh.positions)
            positions.push_back(move(v));
        std::vector<Triangle> triangles = mesh.triangles;
        if (p.dense) {
            subdivide(positions, triangles);
            ASSERT_GT(triangles.size(), size_t(65536));
        }
        FaceFinding found;
        findFace(found, defaultTemplate(), positions.data(), int32_t(positions.size()),
                 triangles.data(), int32_t(triangles.size()));
        ASSERT_TRUE(found.found) << found.problem;
        Landmarks truth;
        for (int32_t i = 0; i < landmarkCount; ++i)
            truth.points[i] = move(mesh.landmarks.points[i]);
        const float height = headHeight(truth);
        for (int32_t i = 0; i < landmarkCount; ++i)
            EXPECT_LT(distance(found.landmarks.points[i], truth.points[i]), 0.05f * height)
                << faceFeatureNames[i];
        Vector3 up, front;
        truth.given[eyeLeftOuter] = truth.given[eyeRightOuter] = truth.given[lipUpper] = true;
        landmarkFrame(up, front, truth);
        EXPECT_LT(degreesBetween(found.up, up), 20.0f);
        EXPECT_LT(degreesBetween(found.front, front), 20.0f);
    }
}

// Heads nobody here made: the face found against landmarks placed by hand (tests/landmarks),
// the largest miss within a share of the head's height, up and front within 20 degrees; and
// meshes that are no face refused. A head whose file is missing is passed over.
TEST(FaceFinding, HeadsAreFoundAndOtherMeshesRefused) {
    const std::string shared = std::string(FACE_SOURCE_DIR) + "/../shared/heads/";
    const std::string models = "/usr/share/assimp/models/";
    const struct {
        std::string mesh;
        std::string hand;  // "" for a mesh that is no face
        float largestMiss; // share of the head's height
    } heads[] = {
        // His mouth's corners lie lower than the default face's (5.2 %); the rest within 5 %.
        {shared + "gpreg_male.obj", "gpreg_male.txt", 0.06f},
        // Her mouth is wider than the default face's, and her brows' outer ends higher.
        {shared + "gpreg_female.obj", "gpreg_female.txt", 0.08f},
        // A whole body: its face a small part of it. Its lids' margins lie deep behind the eyes'
        // corners (its eyeballs are another mesh), 17 % from the default face's; the rest
        // within 6.4 %.
        {models + "Collada/human.zae", "human.txt", 0.18f},
        // A bull: the face-like shape of its hindquarters, and its own face, have its whole
        // body behind them.
        {models + "OBJ/WusonOBJ.obj", "", 0.0f},
        {models + "Collada/duck.dae", "", 0.0f},
        {models + "OBJ/spider.obj", "", 0.0f},
        {models + "OBJ/box.obj", "", 0.0f},
    };
    for (const auto& head : heads) {
        SCOPED_TRACE(head.mesh);
        if (!std::filesystem::exists(head.mesh))
            continue;
        std::vector<Vector3> positions;
        std::vector<Triangle> triangles;
        ASSERT_TRUE(readMesh(positions, triangles, head.mesh));
        FaceFinding found;
        findFace(found, defaultTemplate(), positions.data(), int32_t(positions.size()),
                 triangles.data(), int32_t(triangles.size()));
        if (head.hand.empty()) {
            EXPECT_FALSE(found.found) << found.score;
            EXPECT_EQ(found.problem.rfind("no face found: ", 0), 0u) << found.problem;
            continue;
        }
        ASSERT_TRUE(found.found) << found.problem;
        Landmarks hand;
        std::string error;
        const std::string file = std::string(FACE_SOURCE_DIR) + "/tests/landmarks/" + head.hand;
        ASSERT_TRUE(readLandmarkFile(hand, file.c_str(), error)) << error;
        const float height = headHeight(hand);
        for (int32_t i = 0; i < landmarkCount; ++i)
            EXPECT_LT(distance(found.landmarks.points[i], hand.points[i]),
                      head.largestMiss * height)
                << faceFeatureNames[i];
        Vector3 up, front;
        landmarkFrame(up, front, hand);
        EXPECT_LT(degreesBetween(found.up, up), 20.0f);
        EXPECT_LT(degreesBetween(found.front, front), 20.0f);
    }
}
