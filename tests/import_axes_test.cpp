// face-import run as a program on files that state their own axes and on skins that lie
// beside the mesh: the default face written turned in FBX and Collada (the files made with
// assimp's own exporter, package assimp-utils, then their axes edited), figures of Debian's
// assimp test models, and pictures named after the mesh file.
#include "io/model_file.h"
#include "io/texture.h"
#include "tests/support/temp_dir.h"
#include "tests/support/viewer_session.h"

#include <gtest/gtest.h>
#include <stb_image.h>
#include <stb_image_write.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

namespace {

const std::string models = "/usr/share/assimp/models/";

ProgramRun runImport(const std::string& arguments) { return runWords(FACE_IMPORT_PATH, arguments); }

// What shows where a placed mesh faces: its extent along x, y and z, its foremost vertex
// (largest z: the default face's nose) and its topmost (largest y).
struct PlacedFeatures {
    Vector3 extent, foremost, topmost;
};

bool readFeatures(PlacedFeatures& features, const std::string& folder) {
    ModelData data;
    std::string error;
    if (!readModelFile(data, (folder + "/data/retarget.model").c_str(), error)) {
        ADD_FAILURE() << error;
        return false;
    }
    const Vector3* p = data.renderPositions.get();
    const int32_t n = data.renderVertexCount;
    Vector3 low = p[0], high = p[0];
    for (int32_t i = 1; i < n; ++i) {
        low = {std::min(low.x, p[i].x), std::min(low.y, p[i].y), std::min(low.z, p[i].z)};
        high = {std::max(high.x, p[i].x), std::max(high.y, p[i].y), std::max(high.z, p[i].z)};
    }
    features.extent = high - low;
    features.foremost = *std::max_element(p, p + n, [](auto& a, auto& b) { return a.z < b.z; });
    features.topmost = *std::max_element(p, p + n, [](auto& a, auto& b) { return a.y < b.y; });
    return true;
}

// The features of two placements agree to a thousandth of the model's 16 units.
void expectSamePlacement(const PlacedFeatures& a, const PlacedFeatures& b,
                         const std::string& what) {
    constexpr float tolerance = 0.016f;
    EXPECT_LT(length(a.extent - b.extent), tolerance) << what;
    EXPECT_LT(length(a.foremost - b.foremost), tolerance) << what;
    EXPECT_LT(length(a.topmost - b.topmost), tolerance) << what;
}

// The OBJ file with every position and normal turned: "v x y z" becomes "v" and turn's
// three values, and so for "vn".
std::string turnedObj(const std::string& obj, const std::function<Vector3(Vector3)>& turn) {
    std::istringstream lines(obj);
    std::ostringstream out;
    out.precision(9);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line);
        std::string kind;
        Vector3 p;
        if (words >> kind && (kind == "v" || kind == "vn") && words >> p.x >> p.y >> p.z) {
            const Vector3 q = turn(p);
            out << kind << ' ' << q.x << ' ' << q.y << ' ' << q.z << '\n';
        } else {
            out << line << '\n';
        }
    }
    return out.str();
}

// Replaces each of the texts in file, which must hold every one.
void editFile(const std::string& file,
              const std::vector<std::pair<std::string, std::string>>& edits) {
    std::string text = readFile(file);
    for (const auto& [from, to] : edits) {
        const size_t at = text.find(from);
        ASSERT_NE(at, std::string::npos) << file << " has no " << from;
        text.replace(at, from.size(), to);
    }
    std::ofstream(file, std::ios::binary) << text;
}

// An edit of one of the FBX global settings that assimp's exporter writes (+y up, front +z,
// the third axis +x).
std::pair<std::string, std::string> fbxSetting(const char* name, int from, int to) {
    const std::string start = std::string("P: \"") + name + "\", \"int\", \"Integer\", \"\", ";
    return {start + std::to_string(from) + "\n", start + std::to_string(to) + "\n"};
}

} // namespace

TEST(FaceImportAxes, FilesThatStateTheirAxesComeInUprightAndFacingTheViewer) {
    TempDir dir;
    // The default face as OBJ: +y up, facing +z, as the reference.
    const std::string face = dir.path + "/face.obj";
    ASSERT_EQ(runWords(FACE_INSPECT_PATH,
                       "--export-obj " + face + " " FACE_SOURCE_DIR "/data/retarget.model")
                  .status,
              0);
    ASSERT_EQ(runImport(face + " --out " + dir.path + "/reference").status, 0);
    PlacedFeatures reference;
    ASSERT_TRUE(readFeatures(reference, dir.path + "/reference"));

    // The face turned so that up and front lie along other axes, written by assimp and then
    // told so in the file's own terms.
    const auto zUpFrontMinusY = [](Vector3 p) { return Vector3{p.x, -p.z, p.y}; };
    const auto minusXUpFrontY = [](Vector3 p) { return Vector3{-p.y, p.z, -p.x}; };
    const auto xUpFrontZ = [](Vector3 p) { return Vector3{p.y, -p.x, p.z}; }; // Collada's X_UP
    const struct {
        std::string name;
        std::function<Vector3(Vector3)> turn;
        std::vector<std::pair<std::string, std::string>> edits;
        std::string axes; // the line's start
    } cases[] = {
        {"z.fbx",
         zUpFrontMinusY,
         {fbxSetting("UpAxis", 1, 2), fbxSetting("FrontAxis", 2, 1),
          fbxSetting("FrontAxisSign", 1, -1)},
         "axes: up +z, front -y: the file's own axes (FBX "},
        {"x.fbx",
         minusXUpFrontY,
         {fbxSetting("UpAxis", 1, 0), fbxSetting("UpAxisSign", 1, -1),
          fbxSetting("FrontAxis", 2, 1), fbxSetting("CoordAxis", 0, 2),
          fbxSetting("CoordAxisSign", 1, -1)},
         "axes: up -x, front +y: the file's own axes (FBX "},
        // assimp turns a Collada file's up axis in the root node: the scene is +y up.
        {"z.dae",
         zUpFrontMinusY,
         {{"<up_axis>Y_UP</up_axis>", "<up_axis>Z_UP</up_axis>"}},
         "axes: up +y, front +z: the file's own axes (Collada "},
        {"x.dae",
         xUpFrontZ,
         {{"<up_axis>Y_UP</up_axis>", "<up_axis>X_UP</up_axis>"}},
         "axes: up +y, front +z: the file's own axes (Collada "},
    };
    const std::string obj = readFile(face);
    for (const auto& c : cases) {
        const std::string source = dir.write(c.name + ".obj", turnedObj(obj, c.turn));
        const std::string file = dir.path + "/" + c.name;
        const std::string format = c.name.substr(c.name.find('.') + 1) == "fbx" ? " -ffbxa" : "";
        const ProgramRun exported =
            runWords("/usr/bin/assimp", "export " + source + " " + file + format);
        ASSERT_EQ(exported.status, 0) << "assimp export (package assimp-utils): " << exported.err;
        editFile(file, c.edits);
        const std::string out = dir.path + "/" + c.name + "-out";
        const ProgramRun r = runImport(file + " --out " + out);
        ASSERT_EQ(r.status, 0) << c.name << ": " << r.err;
        EXPECT_NE(r.out.find(c.axes), std::string::npos) << c.name << ": " << r.out;
        PlacedFeatures placed;
        ASSERT_TRUE(readFeatures(placed, out));
        expectSamePlacement(placed, reference, c.name);
    }

    // A file without axes keeps +y up and facing +z (the turned OBJ lies on its back), and
    // --up and --front, one or both, override the file's own.
    const std::string lying = dir.path + "/z.fbx.obj", fbx = dir.path + "/z.fbx";
    enum Expected { upright, onItsBack, sideways };
    const struct {
        std::string arguments, axes;
        Expected placed;
    } overrides[] = {
        {lying, "axes: up +y, front +z: the file states no axes;", onItsBack},
        {lying + " --up z --front -y", "axes: up +z, front -y: given by --up and --front", upright},
        {fbx + " --up y --front z", "axes: up +y, front +z: given by --up and --front", onItsBack},
        {fbx + " --front x", "axes: up +z, front +x: front given by --front, up by the file's",
         sideways},
    };
    PlacedFeatures asLying;
    ASSERT_TRUE(readFeatures(asLying, dir.path + "/reference"));
    for (const auto& c : overrides) {
        const std::string out = dir.path + "/override" + std::to_string(&c - overrides);
        const ProgramRun r = runImport(c.arguments + " --out " + out);
        ASSERT_EQ(r.status, 0) << c.arguments << ": " << r.err;
        EXPECT_NE(r.out.find(c.axes), std::string::npos) << c.arguments << ": " << r.out;
        PlacedFeatures placed;
        ASSERT_TRUE(readFeatures(placed, out));
        if (&c == overrides) {
            // Lying, the face is deeper than tall (upright, it is taller than deep), and its
            // nose is not the foremost point.
            asLying = placed;
            EXPECT_TRUE(placed.extent.z > placed.extent.y &&
                        reference.extent.y > reference.extent.z);
            EXPECT_GT(length(placed.foremost - reference.foremost), 1.0f);
        }
        if (c.placed == upright)
            expectSamePlacement(placed, reference, c.arguments);
        else if (c.placed == onItsBack)
            expectSamePlacement(placed, asLying, c.arguments);
        else // the front turned a quarter about the vertical: width and depth swap
            EXPECT_TRUE(std::fabs(placed.extent.x - reference.extent.z) < 0.016f &&
                        std::fabs(placed.extent.y - reference.extent.y) < 0.016f &&
                        std::fabs(placed.extent.z - reference.extent.x) < 0.016f)
                << c.arguments;
    }
}

TEST(FaceImportAxes, FiguresWhoseFormatFixesTheirAxesStandFacingAlongZ) {
    if (!std::filesystem::exists(models + "MD2/sydney.md2"))
        GTEST_SKIP() << models << " is missing (package assimp-testmodels)";
    // A figure or a head stands upright and faces the viewer when it is shallower front to
    // back (z) than it is tall (y) or wide (x). Each of these lay or faced the side as +y up
    // and facing +z.
    TempDir dir;
    for (const char* file : {"MD2/sydney.md2", "MD2/faerie.md2", "COB/dwarf.cob"}) {
        const std::string out = dir.path + "/" + std::filesystem::path(file).stem().string();
        const ProgramRun r = runImport(models + file + " --out " + out);
        ASSERT_EQ(r.status, 0) << file << ": " << r.err;
        EXPECT_NE(r.out.find("convention ("), std::string::npos) << file << ": " << r.out;
        PlacedFeatures placed;
        ASSERT_TRUE(readFeatures(placed, out));
        EXPECT_NEAR(placed.extent.y, 16.0f, 1e-3f) << file;
        EXPECT_LT(placed.extent.z, std::min(placed.extent.x, placed.extent.y)) << file;
    }
}

TEST(FaceImportAxes, AMissingOrPlaceholderSkinGivesWayToThePictureNamedAfterTheMesh) {
    if (!std::filesystem::exists(models + "MD2/sydney.md2"))
        GTEST_SKIP() << models << " is missing (package assimp-testmodels)";
    // Copies of two meshes in a folder of their own: sydney.md2, whose skin assimp names
    // with its placeholder "$texture_dummy.bmp", and Mr. Fixit's head, whose material names
    // Head.jpg; beside them pictures of one colour each.
    TempDir dir;
    const auto copy = [&](const std::string& from, const std::string& to) {
        std::filesystem::copy_file(models + from, dir.path + "/" + to);
        return dir.path + "/" + to;
    };
    const std::string md2 = copy("MD2/sydney.md2", "girl.md2");
    const std::string iqm = copy("IQM/mrfixit.iqm", "fixit.iqm") + " --mesh 1 --front x";
    // A picture of 2 × 2 pixels, its red channel red throughout.
    const auto picture = [&](const std::string& name, uint8_t red) {
        const uint8_t pixels[2 * 2 * 3] = {red, 1, 2, red, 3, 4, red, 5, 6, red, 7, 8};
        const std::string file = dir.path + "/" + name;
        const bool png = std::filesystem::path(name).extension() == ".png";
        EXPECT_TRUE(png ? stbi_write_png(file.c_str(), 2, 2, 3, pixels, 6)
                        : stbi_write_bmp(file.c_str(), 2, 2, 3, pixels))
            << file;
    };
    const std::string bare = copy("MD2/sydney.md2", "bare.md2"); // no picture named bare
    const std::string lady = copy("MD2/sydney.md2", "lady.md2");
    const struct {
        std::string mesh;
        std::string written; // a picture written before the import ("" none; Head.jpg copied)
        std::string used;    // the skin's picture ("" the neutral tone)
        std::string line;    // of the output
    } cases[] = {
        {md2, "girl.bmp", "girl.bmp",
         "skin texture: " + dir.path +
             "/girl.bmp, the picture beside the mesh named after it (the mesh names assimp's "
             "placeholder $texture_dummy.bmp, not found; --texture FILE takes another)\n"},
        {iqm, "fixit.png", "fixit.png",
         "skin texture: " + dir.path +
             "/fixit.png, the picture beside the mesh named after it (the mesh names Head.jpg, "
             "not found; --texture FILE takes another)\n"},
        // The texture the mesh names comes first; PNG before BMP.
        {iqm, "Head.jpg", "Head.jpg", "skin texture: " + dir.path + "/Head.jpg\n"},
        {md2, "girl.png", "girl.png", "skin texture: " + dir.path + "/girl.png, the picture"},
        {bare, "", "",
         "skin texture: assimp's placeholder $texture_dummy.bmp not found or unreadable, a "
         "neutral tone instead (--texture FILE gives one)\n"},
        // No picture named exactly after the mesh: the first whose name starts with its name.
        {lady, "lady2.bmp", "lady2.bmp", "skin texture: " + dir.path + "/lady2.bmp, the picture"},
    };
    uint8_t red = 100;
    for (const auto& c : cases) {
        if (c.written == "Head.jpg")
            std::filesystem::copy_file(models + "IQM/Head.jpg", dir.path + "/Head.jpg");
        else if (!c.written.empty())
            picture(c.written, red += 10);
        const std::string out = dir.path + "/out" + std::to_string(&c - cases);
        const ProgramRun r = runImport(c.mesh + " --out " + out);
        ASSERT_EQ(r.status, 0) << c.mesh << ": " << r.err;
        EXPECT_NE(r.out.find(c.line), std::string::npos) << r.out;
        // The skin holds the picture used, pixel for pixel.
        DecodedImage skin, used;
        std::string error;
        ASSERT_TRUE(decodeImage(skin, (out + "/data/white_skin.tga").c_str(), error)) << error;
        if (c.used.empty()) {
            EXPECT_TRUE(skin.width == 1 && skin.height == 1) << c.mesh;
            continue;
        }
        int width = 0, height = 0, channels = 0;
        stbi_uc* pixels =
            stbi_load((dir.path + "/" + c.used).c_str(), &width, &height, &channels, 3);
        ASSERT_NE(pixels, nullptr) << c.used;
        EXPECT_TRUE(skin.width == width && skin.height == height &&
                    std::equal(pixels, pixels + width * height * 3, skin.pixels.get()))
            << c.mesh << " with " << c.used;
        stbi_image_free(pixels);
    }
}

// A file that states its axes gets no warning of them. One that states none gets a warning
// with the up and front of the face found on it (tools/fit/face_finding.h): a real scan
// written lying on its back, its face to the sky (+y) and the top of its head along -z, is
// told to stand by --up -z --front +y; the same scan upright, facing +z, gets no warning.
TEST(FaceImportAxes, AFileWithoutAxesGetsTheUpAndFrontOfItsFace) {
    TempDir dir;
    // A file with axes of its own gets no such warning; one whose meshes left out are as
    // large as the one taken names the --mesh list that joins them.
    const ProgramRun human = runImport(models + "BLEND/HUMAN.blend --out " + dir.path + "/h");
    ASSERT_EQ(human.status, 0) << human.err;
    EXPECT_EQ(human.err.find("states no axes"), std::string::npos) << human.err;
    EXPECT_NE(human.err.find("HUMAN.blend: 1 mesh left out is as large as mesh 0 (parts of one "
                             "body, such as its mirrored halves?): --mesh 0,1 takes them "
                             "together\n"),
              std::string::npos)
        << human.err;

    const std::string scan = std::string(FACE_SOURCE_DIR) + "/../shared/heads/gpreg_male.obj";
    std::ifstream in(scan);
    if (!in.good()) // the shared heads beside the repository, missing on a fresh machine
        GTEST_SKIP() << scan << " is not there";
    std::string lying;
    for (std::string line; std::getline(in, line);) {
        float x, y, z;
        if (line.rfind("v ", 0) == 0 &&
            std::sscanf(line.c_str() + 2, "%f %f %f", &x, &y, &z) == 3) {
            char turned[128]; // (x, y, z) to (x, z, -y): up becomes -z, front +y
            std::snprintf(turned, sizeof turned, "v %.9g %.9g %.9g", x, z, -y);
            line = turned;
        } else if (line.rfind("vn ", 0) == 0) {
            continue; // normals are made again from the positions
        }
        lying += line + "\n";
    }
    dir.write("lying.obj", lying);
    const ProgramRun r = runImport(dir.path + "/lying.obj --out " + dir.path + "/out");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("lying.obj states no axes and its format has no convention: taken up "
                         "+y, front +z; its face (found on the mesh"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("--up -z --front +y stands it facing the viewer\n"), std::string::npos)
        << r.err;
    const ProgramRun upright = runImport(scan + " --out " + dir.path + "/upright");
    ASSERT_EQ(upright.status, 0) << upright.err;
    EXPECT_EQ(upright.err.find("states no axes"), std::string::npos) << upright.err;
}
