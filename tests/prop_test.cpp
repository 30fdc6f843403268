#include "io/prop.h"
#include "tests/support/io_test_files.h"
#include "tests/support/synthetic_model.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>

namespace {

// A prop file is a model file's first five sections: whatever follows them is not read,
// even text that is no model's.
TEST(PropFile, FirstFiveModelSectionsGiveTheModelsRenderMesh) {
    SyntheticModelShape shape;
    shape.renderCellsX = 4, shape.renderCellsY = 3;
    ModelData model, expected;
    makeSyntheticModel(model, shape);
    TempDir dir;
    const std::string path = dir.path + "/piece.prop";
    std::string written;
    ASSERT_TRUE(writeModelFile(path.c_str(), model, written)) << written;
    std::ofstream(path, std::ios::app) << "not read 1e999";
    std::string error;
    ASSERT_TRUE(readModelFile(expected, path.c_str(), error)) << error;
    std::unique_ptr<Prop> prop;
    ASSERT_TRUE(loadProp(prop, path.c_str(), error)) << error;
    ASSERT_EQ(prop->vertexCount, expected.renderVertexCount);
    ASSERT_EQ(prop->triangleCount, expected.renderTriangleCount);
    const auto same = [](const auto* a, const auto* b, int32_t n) {
        return std::memcmp(a, b, sizeof *a * size_t(n)) == 0;
    };
    const int32_t N = prop->vertexCount;
    EXPECT_TRUE(same(prop->positions.get(), expected.renderPositions.get(), N) &&
                same(prop->normals.get(), expected.renderNormals.get(), N) &&
                same(prop->texCoords.get(), expected.renderTexCoords.get(), N) &&
                same(prop->triangles.get(), expected.renderTriangles.get(), prop->triangleCount));

    // A refused file leaves the prop as it was.
    const Prop* first = prop.get();
    const std::string bad = dir.write("b.prop", std::string("3 0.000 0.000 0.000 0.000 0.0"));
    expectRefusal(loadProp(prop, bad.c_str(), error), error, bad + ", line 1: vertex count: ");
    EXPECT_EQ(prop.get(), first);
}

// The prop reader shares the model reader's scanner (whose refusals the model file test
// covers): here the start check and every section name of a prop.
TEST(PropFile, RefusalsNameTheFileAndThePropSections) {
    PropData prop;
    std::string error;
    const std::string good = "3  0 0 0 1 0 0 0 1 0  0 0 1 0 0 1  1  0 1 2";
    ASSERT_TRUE(readPropBuffer(prop, good.data(), good.size(), "eye.prop", error)) << error;

    const struct {
        std::string text;
        const char* message;
        uint64_t availableBytes = unlimitedMemory;
    } cases[] = {
        {"", "eye.prop: the file is empty"},
        {"3  0 0 0 1 0 0 0 1 0  0 0 1 0 0 1  1  0 1",
         "eye.prop, line 1: triangle count: the file ends before the 1 triangle that the count "
         "announces"},
        {"3  0 0 0 1 0 0 0 1 0  0 0 1 0 0 1  1  0 3 2",
         "eye.prop, line 1: triangles, item 0 (b): index 3 is outside the prop (3 vertices)"},
        {"3  0 0 0 1 0 0 0 1 0  0 0 1 q 0 1  1  0 1 2",
         "eye.prop, line 1: texture coordinates, item 1 (v): \"q\" is not a number"},
        {"-3 0 0 0", "eye.prop, line 1: vertex count: the count -3 is negative"},
        {"1 0 0 inf 0 0", "eye.prop, line 1: positions, item 0 (z): \"inf\" is not a finite"},
        // The budget covers the reader's arrays and the Prop's copies: refused from the count
        // on that goes over it.
        {good, "eye.prop, line 1: vertex count: 3 vertices need ", 100},
        {good, "eye.prop, line 1: triangle count: 1 triangle needs ", 200},
    };
    for (const auto& c : cases)
        expectRefusal(
            readPropBuffer(prop, c.text.data(), c.text.size(), "eye.prop", error, c.availableBytes),
            error, c.message);
    EXPECT_EQ(prop.vertexCount, 3);
    EXPECT_EQ(prop.triangles[0].index[1], 2);
}

} // namespace
