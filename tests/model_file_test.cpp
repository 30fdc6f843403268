#include "face/face_model.h"
#include "io/model_file.h"
#include "io/prop.h"
#include "io/text_scanner.h"
#include "io/texture.h"
#include "tests/support/failing_allocator.h"
#include "tests/support/io_test_files.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <regex>
#include <sstream>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

bool readText(ModelData& model, const std::string& text, std::string& error,
              uint64_t availableBytes = unlimitedMemory) {
    return readModelBuffer(model, text.data(), text.size(), "bad.model", error, availableBytes);
}

// The unit right triangle (0,0,0) (1,0,0) (0,1,0) as both meshes, triangle written 0 1 2.
// Lines 1 to 5 the render mesh, 6 to 9 the control mesh.
const std::string unitModel = "3\n0 0 0  1 0 0  0 1 0\n0 0  1 0  0 1\n1\n0 1 2\n"
                              "3\n0 0 0  1 0 0  0 1 0\n1\n0 1 2\n";

// The unit model with its first `from` at or after start replaced by `to`.
std::string edited(const std::string& from, const std::string& to, size_t start = 0) {
    std::string text = unitModel;
    text.replace(text.find(from, start), from.size(), to);
    return text;
}

TEST(ModelFile, RenderTrianglesAreStoredSwappedControlTrianglesAsListed) {
    ModelData model;
    std::string error;
    ASSERT_TRUE(readText(model, unitModel, error)) << error;
    ASSERT_TRUE(model.renderTriangleCount == 1 && model.controlTriangleCount == 1);
    const int32_t* render = model.renderTriangles[0].index;
    EXPECT_TRUE(render[0] == 0 && render[1] == 2 && render[2] == 1);
    const int32_t* control = model.controlTriangles[0].index;
    EXPECT_TRUE(control[0] == 0 && control[1] == 1 && control[2] == 2);
    // The normals follow the stored (reversed) winding: −z instead of +z.
    ASSERT_TRUE(model.renderVertexCount == 3 && model.controlPointCount == 3);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(model.renderNormals[i], (Vector3{0.0f, 0.0f, -1.0f}));
    EXPECT_TRUE(model.renderPositions[1] == (Vector3{1, 0, 0}) && model.renderTexCoords[2].v == 1 &&
                model.renderTexCoords[2].u == 0 && model.controlPoints[2] == (Vector3{0, 1, 0}));

    // %i counts and indices, reals with a unit after them, CR-only line ends, and text after
    // the last section that is no model's.
    std::string varied = edited("1\n0 1 2", "0x1\n00 +1 0X2");
    varied.replace(varied.find("1 0 0"), 5, "1.5e2 0 0");
    varied.replace(varied.find("0 1\n0x1"), 1, "3.7cm");
    for (char& c : varied)
        c = c == '\n' ? '\r' : c;
    varied += "0 1 x 12abc nan -5 " + std::string("\0\xff", 2);
    ModelData read;
    ASSERT_TRUE(readText(read, varied, error)) << error;
    EXPECT_EQ(read.renderTriangles[0].index[1], 2);
    EXPECT_EQ(read.renderPositions[1].x, 150.0f);
    EXPECT_EQ(read.renderTexCoords[2].u, 3.7f);

    // Zero counts give empty arrays.
    ASSERT_TRUE(readText(read, "0 0 0 0", error)) << error;
    EXPECT_TRUE(read.renderVertexCount == 0 && read.renderTriangleCount == 0 &&
                read.controlPointCount == 0 && read.controlTriangleCount == 0 &&
                read.renderNormals);
}

TEST(ModelFile, TokensFollowPercentIAndAtofBitForBit) {
    std::istringstream integers("010 0x1A 0X1a +3 -0 007 2147483647 -2147483648");
    for (const int32_t expected : {8, 26, 26, 3, 0, 7, INT_MAX, INT_MIN}) {
        std::string token;
        integers >> token;
        int32_t value = -7;
        EXPECT_TRUE(parseIntegerToken(value, token.data(), token.size()) && value == expected)
            << token;
    }
    // Reals against strtod rounded to float (atof's value), the fuzzer's check on every
    // token it makes: here the cases it may not reach, among them a halfway case that
    // rounding twice (to double, then to float) settles differently from rounding once.
    std::istringstream reals("1.5e2 3.7cm -0.0 .5 5. 0x1p-1 +2.5 1e-50 1e-40 2.5E+1x -7 16777217 "
                             "3.40282346e38 3.4028236e38 1.00000005960464477539062500000001 "
                             "0.000000000000000000001234567890123456789e+25");
    for (std::string token; reals >> token;) {
        const float expected = static_cast<float>(std::strtod(token.c_str(), nullptr));
        float value = 0.0f;
        const RealTokenStatus status = parseRealToken(value, token.data(), token.size());
        const bool finite = std::isfinite(expected);
        EXPECT_EQ(status, finite ? RealTokenStatus::ok : RealTokenStatus::notFinite) << token;
        EXPECT_TRUE(!finite || std::memcmp(&value, &expected, sizeof value) == 0) << token;
    }
}

// Every refusal class: the edit of the unit model and the whole message. Each leaves the
// model the reader was given as it was.
TEST(ModelFile, RefusalsNameTheFileLineSectionItemAndWhatIsWrong) {
    const std::string untilLast = unitModel.substr(0, unitModel.rfind("0 1 2"));
    const std::string longest = "0." + std::string(253, '1');
    std::string crOnly = edited("0 1 2", "0 1 3");
    for (char& c : crOnly)
        c = c == '\n' ? '\r' : c;
    const std::pair<std::string, std::string> cases[] = {
        {"", ": the file is empty"},
        {" \n\t\r\n ", ": the file is empty"},
        {"\xEF\xBB\xBF" + unitModel,
         ": the file starts with a UTF-8 byte-order mark; save it as plain text without one"},
        {std::string("3\0\n\0", 4) + unitModel,
         ": the file looks like UTF-16 text; save it as plain text (ASCII or UTF-8)"},
        {untilLast + "0 1", ", line 8: control triangle count: the file ends before the 1 "
                            "control triangle that the count announces"},
        {untilLast + "0    1", ", line 9: control triangles, item 0 (c): the file ends too early"},
        {"3\n0 0 0  1 0 0  0 1 0\n0 0  1 0  0 1\n",
         ", line 3: render triangle count: the file ends too early"},
        {"1000000000 0 0 0 0 0 0 0 0 0 0", ", line 1: render vertex count: the file ends before "
                                           "the 1000000000 render vertices that the count "
                                           "announces"},
        {edited("1\n0 1 2", "-1\n0 1 2"), ", line 4: render triangle count: the count -1 is "
                                          "negative"},
        {edited("0 1 2", "0 1 3"),
         ", line 5: render triangles, item 0 (c): index 3 is outside the render mesh (3 vertices)"},
        {crOnly, ", line 5: render triangles, item 0 (c): index 3"},
        {"0 0 1 0 0 0 1 0 1 0",
         ", line 1: control triangles, item 0 (b): index 1 is outside the control mesh (1 vertex)"},
        {edited("0 1 2", "-1 1 2", 40),
         ", line 9: control triangles, item 0 (a): index -1 is outside the control mesh"},
        {edited("0 1 2", "0 12abc 2"),
         ", line 5: render triangles, item 0 (b): \"12abc\" is not a 32-bit integer"},
        {edited("0 1 2", "08 1 2"),
         ", line 5: render triangles, item 0 (a): \"08\" is not a 32-bit integer (a leading 0 "
         "makes a number octal, and octal has no digit 8 or 9)"},
        {edited("1\n0 1 2", "4294967297\n0 1 2"),
         ", line 4: render triangle count: \"4294967297\" is not a 32-bit integer"},
        {edited("1 0 0", "1 abc 0", 40),
         ", line 7: control points, item 1 (y): \"abc\" is not a number"},
        {edited("\n0 0  1 0", "\n0 0  . 0"),
         ", line 3: render texture coordinates, item 1 (u): \".\" is not a number"},
        {edited("1 0 0", "nan 0 0"),
         ", line 2: render positions, item 1 (x): \"nan\" is not a finite 32-bit float"},
        {edited("1 0 0", "1e39 0 0"), ", line 2: render positions, item 1 (x): \"1e39\" is not"},
        {edited("1 0 0", "-1e400 0 0"), ", line 2: render positions, item 1 (x): \"-1e400\" is"},
        {edited("1 0 0", longest + "1 0 0"),
         ", line 2: render positions, item 1 (x): a token of 256 characters is longer than 255"},
        {edited("0 1 2", "0 \x01\xff 2"),
         ", line 5: render triangles, item 0 (b): \"??\" is not a 32-bit integer"},
    };
    ModelData model;
    std::string error;
    ASSERT_TRUE(readText(model, unitModel, error)) << error;
    for (const auto& c : cases) {
        expectRefusal(readText(model, c.first, error), error, "bad.model" + c.second);
        ASSERT_EQ(model.renderVertexCount, 3);
        EXPECT_EQ(model.renderTriangles[0].index[1], 2);
    }
    // The longest token the buffer holds is read.
    ASSERT_TRUE(readText(model, edited("1 0 0", longest + " 0 0"), error)) << error;
    EXPECT_EQ(model.renderPositions[1].x, static_cast<float>(std::atof(longest.c_str())));
}

bool matches(const std::string& text, const std::string& pattern) {
    return std::regex_match(text, std::regex(pattern));
}

TEST(ModelFile, ArraysOverTheMemoryBudgetAreRefusedBeforeAllocation) {
    ModelData model;
    std::string error;
    EXPECT_FALSE(readText(model, "2000 " + std::string(20000, '0'), error, 999));
    EXPECT_TRUE(matches(error, "bad.model, line 1: render vertex count: 2000 render vertices "
                               "need [0-9.]+ KB; 999 bytes are available"))
        << error;

    // The face model's budget names the counts that take most of it, in agreement.
    ModelData counts;
    const std::pair<int32_t, const char*> cases[] = {
        {1, "1 control triangle needs [0-9.]+ KB"},
        {1000000, "1000000 render vertices need [0-9.]+ MB"},
        {10000, "10000 control triangles and 1000000 render vertices need [0-9.]+ MB"}};
    for (const auto& [count, message] : cases) {
        (count == 1000000 ? counts.renderVertexCount : counts.controlTriangleCount) = count;
        EXPECT_FALSE(faceModelFits(error, counts, "f.model", 999));
        EXPECT_TRUE(matches(error, std::string("f.model: ") + message +
                                       " for the face model; 999 bytes are available"))
            << error;
    }
    EXPECT_TRUE(faceModelFits(error, counts, "f.model", uint64_t(1) << 30));
}

TEST(ModelFile, FaceModelOverTheAddressSpaceLimitIsRefused) {
    if (addressSanitizer)
        GTEST_SKIP() << "AddressSanitizer reserves terabytes of address space";
    // 200,000 control triangles on three points: a 1.2 MB file whose face model needs about
    // 3 GB, loaded in a child process limited to 512 MB more address space than it maps.
    TempDir dir;
    std::string text = "0 0 3 0 0 0 1 0 0 0 1 0 200000\n";
    for (int t = 0; t < 200000; ++t)
        text += "0 1 2\n";
    const std::string path = dir.write("large.model", text);
    const pid_t child = fork();
    if (child == 0) {
        long pages = 0;
        std::ifstream("/proc/self/statm") >> pages;
        const rlim_t limit = rlim_t(pages) * rlim_t(sysconf(_SC_PAGESIZE)) + (rlim_t(512) << 20);
        const rlimit addressSpace{limit, limit};
        std::unique_ptr<FaceModel> model;
        ArrayHolder<Vector3> points;
        int32_t K = 0;
        std::string error = "no limit set";
        const bool refused = pages > 0 && setrlimit(RLIMIT_AS, &addressSpace) == 0 &&
                             !loadFaceModel(model, points, K, path.c_str(), error);
        std::fprintf(stderr, "%s\n", error.c_str());
        _exit(refused && matches(error, path + ": 200000 control triangles need [0-9.]+ GB for "
                                               "the face model; [0-9.]+ MB are available")
                  ? 0
                  : 1);
    }
    int status = 1;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "see the child's message above";
}

// Files that are not plain files, or far larger than memory, are refused by every reader
// with one line, and at once. One name serves the three readers (the texture reader goes by
// the ".tga" in it).
TEST(ReaderFiles, OnlyRegularFilesOfAUsableSizeAreRead) {
    TempDir dir;
    const std::string directory = dir.path + "/d.tga", fifo = dir.path + "/f.tga",
                      device = dir.path + "/z.tga", socket = dir.path + "/s.tga",
                      sparse = dir.path + "/big.tga", missing = dir.path + "/none.tga";
    ASSERT_EQ(mkdir(directory.c_str(), 0700), 0);
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0); // with no writer: opening it must not wait
    ASSERT_EQ(symlink("/dev/zero", device.c_str()), 0);
    const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{AF_UNIX, {}};
    socket.copy(address.sun_path, sizeof address.sun_path - 1);
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    const int file = open(sparse.c_str(), O_CREAT | O_WRONLY, 0600);
    ASSERT_EQ(ftruncate(file, off_t(1) << 40), 0); // 1 TiB, with no block written
    close(file);

    const std::pair<std::string, std::string> cases[] = {
        {directory, ": not a regular file (a directory)"},
        {fifo, ": not a regular file (a FIFO)"},
        {device, ": not a regular file (a device)"},
        {socket, ": not a regular file (a socket)"},
        {sparse, ": the file is 1.1 TB, more than half of the "},
        {missing, std::string(": cannot open (") + std::strerror(ENOENT) + ")"}};
    for (const auto& [path, message] : cases) {
        std::string errors[3];
        ModelData model;
        PropData prop;
        DecodedImage image;
        expectRefusal(readModelFile(model, path.c_str(), errors[0]), errors[0], path + message);
        expectRefusal(readPropFile(prop, path.c_str(), errors[1]), errors[1], path + message);
        expectRefusal(decodeImage(image, path.c_str(), errors[2]), errors[2], path + message);
    }
    close(listener);
}

} // namespace
