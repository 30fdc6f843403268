#include "io/model_file.h"
#include "io/text_scanner.h"
#include "tests/io_test_files.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>
#include <sstream>

namespace {

bool readText(ModelData& model, const std::string& text, std::string& error,
              const char* name = "test.model") {
    return readModelBuffer(model, text.data(), text.size(), name, error);
}

// The unit right triangle (0,0,0) (1,0,0) (0,1,0) as both meshes, triangle written 0 1 2.
const char* const unitModel = "3\n"
                              "0 0 0  1 0 0  0 1 0\n"
                              "0 0  1 0  0 1\n"
                              "1\n"
                              "0 1 2\n"
                              "3\n"
                              "0 0 0  1 0 0  0 1 0\n"
                              "1\n"
                              "0 1 2\n";

// A model with n render vertices along the x axis (texture u = x), the given render
// triangle lines, and one control triangle.
std::string lineModel(int n, const std::string& renderTriangles, int m) {
    std::ostringstream text;
    text << n << "\n";
    for (int i = 0; i < n; ++i)
        text << i << " " << (i % 2) << " 0\n";
    for (int i = 0; i < n; ++i)
        text << i << " 0.5\n";
    text << m << "\n" << renderTriangles << "\n3\n0 0 0 1 0 0 0 1 0\n1\n0 1 2\n";
    return text.str();
}

TEST(ModelFile, RenderTrianglesAreStoredSwappedControlTrianglesAsListed) {
    ModelData model;
    std::string error;
    ASSERT_TRUE(readText(model, unitModel, error)) << error;
    ASSERT_EQ(model.renderTriangleCount, 1);
    const int32_t* render = model.renderTriangles[0].index;
    EXPECT_TRUE(render[0] == 0 && render[1] == 2 && render[2] == 1);
    ASSERT_EQ(model.controlTriangleCount, 1);
    const int32_t* control = model.controlTriangles[0].index;
    EXPECT_TRUE(control[0] == 0 && control[1] == 1 && control[2] == 2);
    // The normals follow the stored (reversed) winding: −z instead of +z.
    ASSERT_EQ(model.renderVertexCount, 3);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(model.renderNormals[i], (Vector3{0.0f, 0.0f, -1.0f}));
    EXPECT_EQ(model.renderPositions[1], (Vector3{1.0f, 0.0f, 0.0f}));
    EXPECT_EQ(model.renderTexCoords[2].u, 0.0f);
    EXPECT_EQ(model.renderTexCoords[2].v, 1.0f);
    ASSERT_EQ(model.controlPointCount, 3);
    EXPECT_EQ(model.controlPoints[2], (Vector3{0.0f, 1.0f, 0.0f}));
}

TEST(ModelFile, IntegersFollowPercentIRules) {
    // 010 is octal 8, 0x1A and 0X1a hexadecimal 26, +3 decimal 3; the count itself in hex.
    ModelData model;
    std::string error;
    const std::string text = lineModel(27, "010 0x1A +3  0 0X1a 007", 0x2);
    std::string hexCount = text;
    hexCount.replace(hexCount.find("\n2\n"), 3, "\n0x2\n");
    ASSERT_TRUE(readText(model, hexCount, error)) << error;
    ASSERT_EQ(model.renderTriangleCount, 2);
    EXPECT_EQ(model.renderTriangles[0].index[0], 8);
    EXPECT_EQ(model.renderTriangles[0].index[1], 3);  // c, swapped into slot 1
    EXPECT_EQ(model.renderTriangles[0].index[2], 26); // b, swapped into slot 2
    EXPECT_EQ(model.renderTriangles[1].index[1], 7);
    EXPECT_EQ(model.renderTriangles[1].index[2], 26);
}

TEST(ModelFile, RealsAreConvertedAsAtofAndRoundedToFloat) {
    const char* tokens[] = {"1.5e2", "3.7cm", "-0.0", ".5",      "5.", "0x1p-1",
                            "1e-50", "1e-40", "0.1",  "2.5E+1x", "-7", "3.40282346e38"};
    for (const char* token : tokens) {
        float value = 12345.0f;
        ASSERT_EQ(parseRealToken(value, token, std::strlen(token)), RealTokenStatus::ok) << token;
        const float expected = static_cast<float>(std::atof(token));
        EXPECT_EQ(std::memcmp(&value, &expected, sizeof value), 0)
            << token << ": " << value << " instead of " << expected;
    }

    // In a file: a position written 1.5e2 and a texture coordinate written 3.7cm.
    ModelData model;
    std::string error;
    std::string text = unitModel;
    text.replace(text.find("1 0 0"), 1, "1.5e2");
    text.replace(text.find("0 1\n1"), 1, "3.7cm");
    ASSERT_TRUE(readText(model, text, error)) << error;
    EXPECT_EQ(model.renderPositions[1].x, 150.0f);
    EXPECT_EQ(model.renderTexCoords[2].u, 3.7f);
}

TEST(ModelFile, FastRealConversionIsBitIdenticalToStrtod) {
    // Random plain decimals of every shape the fast path takes (and some it hands on):
    // up to 20 digits, a point anywhere, exponents around the exact powers of ten.
    std::mt19937 random(20240611);
    std::uniform_int_distribution<int> digitCount(1, 20), digit(0, 9), coin(0, 3),
        exponent(-48, 48);
    for (int trial = 0; trial < 300000; ++trial) {
        std::string token;
        if (coin(random) == 0)
            token += (coin(random) < 2) ? '-' : '+';
        const int digits = digitCount(random);
        const int point = std::uniform_int_distribution<int>(-1, digits)(random);
        for (int i = 0; i < digits; ++i) {
            if (i == point)
                token += '.';
            token += static_cast<char>('0' + digit(random));
        }
        if (point == digits)
            token += '.';
        if (coin(random) == 0)
            token += (coin(random) < 2 ? "e" : "E") + std::to_string(exponent(random));
        const float expected = static_cast<float>(std::strtod(token.c_str(), nullptr));
        float value = 0.0f;
        const RealTokenStatus status = parseRealToken(value, token.data(), token.size());
        if (!std::isfinite(expected)) {
            EXPECT_EQ(status, RealTokenStatus::notFinite) << token;
            continue;
        }
        ASSERT_EQ(status, RealTokenStatus::ok) << token;
        ASSERT_EQ(std::memcmp(&value, &expected, sizeof value), 0)
            << token << ": " << value << " instead of " << expected;
    }
}

TEST(ModelFile, ZeroCountsGiveEmptyArrays) {
    ModelData model;
    std::string error;
    ASSERT_TRUE(readText(model, "0 0 0 0", error)) << error;
    EXPECT_EQ(model.renderVertexCount, 0);
    EXPECT_EQ(model.renderTriangleCount, 0);
    EXPECT_EQ(model.controlPointCount, 0);
    EXPECT_EQ(model.controlTriangleCount, 0);
    EXPECT_NE(model.renderPositions, nullptr);
    EXPECT_NE(model.renderNormals, nullptr);
}

TEST(ModelFile, TextAfterTheLastSectionIsIgnored) {
    ModelData model;
    std::string error;
    std::string text = std::string(unitModel) + "0 1 x 12abc nan -5\n";
    text += std::string("\0\xff binary", 9);
    ASSERT_TRUE(readText(model, text, error)) << error;
    EXPECT_EQ(model.controlTriangleCount, 1);
}

TEST(ModelFile, UnusedRenderVertexGetsTheZeroNormal) {
    ModelData model;
    std::string error;
    ASSERT_TRUE(readText(model, lineModel(4, "0 1 2", 1), error)) << error;
    EXPECT_EQ(model.renderNormals[3], (Vector3{0.0f, 0.0f, 0.0f}));
    EXPECT_EQ(length(model.renderNormals[0]), 1.0f);
}

// Refusals: each leaves the model as it was and gives one line naming the file and section.
class ModelRefusal : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(readText(model, unitModel, error)) << error;
    }

    // Reads text, expects a refusal whose message contains every piece, and checks that the
    // model kept its contents.
    void expectRefused(const std::string& text, std::initializer_list<const char*> pieces) {
        std::string error;
        EXPECT_FALSE(readText(model, text, error, "bad.model"));
        EXPECT_EQ(error.find('\n'), std::string::npos) << error;
        EXPECT_EQ(error.rfind("bad.model", 0), 0u) << error;
        for (const char* piece : pieces)
            EXPECT_NE(error.find(piece), std::string::npos)
                << "'" << piece << "' not in: " << error;
        ASSERT_EQ(model.renderVertexCount, 3);
        ASSERT_EQ(model.controlTriangleCount, 1);
        EXPECT_EQ(model.renderTriangles[0].index[1], 2);
    }

    // The unit model with its first `from` replaced by `to`.
    static std::string edited(const char* from, const char* to, size_t start = 0) {
        std::string text = unitModel;
        text.replace(text.find(from, start), std::strlen(from), to);
        return text;
    }

    ModelData model;
};

TEST_F(ModelRefusal, FileThatCannotBeOpenedOrIsEmpty) {
    std::string error;
    EXPECT_FALSE(readModelFile(model, "/nonexistent/face.model", error));
    EXPECT_EQ(error, "/nonexistent/face.model: cannot open (No such file or directory)");
    expectRefused("", {"bad.model: the file is empty"});
    expectRefused(" \n\t\r\n ", {"bad.model: the file is empty"});
}

TEST_F(ModelRefusal, FileThatEndsBeforeItsLastSection) {
    // Usually the count before the missing items already asks for more than is left.
    std::string text = unitModel;
    expectRefused(text.substr(0, text.rfind("0 1 2")) + "0 1",
                  {"line 8: control triangle count: the count 1 needs at least 6 more bytes "
                   "but the file has 4"});
    // Otherwise the section where the file ends is named.
    expectRefused(text.substr(0, text.rfind("0 1 2")) + "0    1",
                  {"line 9: control triangles, item 0 (c): the file ends too early"});
    expectRefused("3\n0 0 0  1 0 0  0 1 0\n0 0  1 0  0 1\n",
                  {"line 3: render triangle count: the file ends too early"});
}

TEST_F(ModelRefusal, NegativeCount) {
    expectRefused(edited("1\n0 1 2", "-1\n0 1 2"),
                  {"line 4: render triangle count: the count -1 is negative"});
}

TEST_F(ModelRefusal, CountLargerThanTheFileCouldHold) {
    // 30 bytes asking for a billion vertices: refused before anything is allocated.
    const std::string text = "1000000000 0 0 0 0 0 0 0 0 0 0";
    ASSERT_EQ(text.size(), 30u);
    expectRefused(text, {"line 1: render vertex count: the count 1000000000 needs at least "
                         "10000000000 more bytes but the file has 20"});
    expectRefused(edited("1\n0 1 2", "2147483647\n0 1 2", 40),
                  {"control triangle count: the count 2147483647"});
}

TEST_F(ModelRefusal, IndexOutsideItsMesh) {
    expectRefused(edited("0 1 2", "0 1 3"),
                  {"line 5: render triangles, item 0 (c): index 3 is outside the render mesh "
                   "(3 vertices)"});
    expectRefused(edited("0 1 2", "-1 1 2", 40),
                  {"line 9: control triangles, item 0 (a): index -1 is outside the control mesh"});
}

TEST_F(ModelRefusal, IntegerTokenThatIsNotAnInteger) {
    expectRefused(edited("0 1 2", "0 12abc 2"),
                  {"render triangles, item 0 (b): \"12abc\" is not a 32-bit integer"});
    expectRefused(edited("0 1 2", "0 1.5 2"), {"render triangles, item 0 (b): \"1.5\""});
    expectRefused(edited("0 1 2", "08 1 2"), {"render triangles, item 0 (a): \"08\""});
    expectRefused(edited("0 1 2", "0x 1 2", 40), {"control triangles, item 0 (a): \"0x\""});
    expectRefused(edited("1\n0 1 2", "4294967297\n0 1 2"),
                  {"render triangle count: \"4294967297\" is not a 32-bit integer"});
    expectRefused(edited("3\n", "three\n"), {"line 1: render vertex count: \"three\""});
}

TEST_F(ModelRefusal, RealTokenWithNoNumericPrefix) {
    expectRefused(edited("1 0 0", "1 abc 0", 40),
                  {"line 7: control points, item 1 (y): \"abc\" is not a number"});
    expectRefused(edited("\n0 0  1 0", "\n0 0  . 0"),
                  {"line 3: render texture coordinates, item 1 (u): \".\" is not a number"});
    expectRefused(edited("0 0 0", "0 0 -e5"), {"render positions, item 0 (z): \"-e5\""});
}

TEST_F(ModelRefusal, RealThatIsNotFinite) {
    const char* bad[] = {"nan", "inf", "-Infinity", "1e39", "-1e400"};
    for (const char* token : bad)
        expectRefused(edited("1 0 0", (std::string(token) + " 0 0").c_str()),
                      {"render positions, item 1 (x):", "is not a finite 32-bit float"});
}

TEST_F(ModelRefusal, RealTokenLongerThanTheTokenBuffer) {
    const std::string longest = "0." + std::string(253, '1');
    std::string error;
    ModelData fresh;
    ASSERT_TRUE(readText(fresh, edited("1 0 0", (longest + " 0 0").c_str()), error)) << error;
    EXPECT_EQ(fresh.renderPositions[1].x, static_cast<float>(std::atof(longest.c_str())));
    expectRefused(edited("1 0 0", (longest + "1 0 0").c_str()),
                  {"render positions, item 1 (x): a token of 256 characters is longer than 255"});
}

TEST_F(ModelRefusal, MessageQuotesBadBytesPrintably) {
    expectRefused(edited("0 1 2", "0 \x01\xff 2"), {"(b): \"??\" is not a 32-bit integer"});
}

} // namespace
