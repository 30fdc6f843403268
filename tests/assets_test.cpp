// The default data in data/, checked through the real readers and face model: it loads,
// fits the reference cube and faces the camera; the control mesh is cut along the lips and
// around the eyes as the binding needs; the render mesh hangs close to the surface; pulling
// the lower lip down opens the mouth without tearing; the props sit where they belong; the
// textures have the formats the viewer expects and are painted where the features are; and
// face-assets reproduces every committed file byte for byte.
#include "face/face_model.h"
#include "io/model_file.h"
#include "io/prop.h"
#include "io/texture.h"
#include "tools/face_assets_files.h"
#include "tools/face_assets_mesh.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

std::string dataPath(const char* name) { return std::string(FACE_SOURCE_DIR) + "/data/" + name; }

enum PropSlot { upperTeeth, lowerTeeth, leftEye, rightEye, propCount };
const char* const propFiles[propCount] = {"black_th0.prop", "black_th1.prop", "white_eye0.prop",
                                          "white_eye1.prop"};
enum TextureSlot {
    skin,
    upperTeethTexture,
    lowerTeethTexture,
    leftEyeTexture,
    rightEyeTexture,
    textureCount
};
const char* const textureFiles[textureCount] = {"white_skin.tga", "black_th0.tga", "black_th1.tga",
                                                "white_eye0.tga", "white_eye1.tga"};

// The committed data, read and bound once for all tests.
struct Assets {
    ModelData model;
    std::unique_ptr<FaceModel> face;
    PropData props[propCount];
    DecodedImage textures[textureCount];
    std::string error; // the first refusal, if any
};

const Assets& assets() {
    static Assets loaded = [] {
        Assets a;
        std::string error;
        if (!readModelFile(a.model, dataPath("retarget.model").c_str(), error))
            a.error = error;
        for (int p = 0; p < propCount && a.error.empty(); ++p)
            if (!readPropFile(a.props[p], dataPath(propFiles[p]).c_str(), error))
                a.error = error;
        for (int t = 0; t < textureCount && a.error.empty(); ++t)
            if (!decodeImage(a.textures[t], dataPath(textureFiles[t]).c_str(), error))
                a.error = error;
        if (a.error.empty()) {
            const ModelData& m = a.model;
            a.face = std::make_unique<FaceModel>(m.controlPoints.get(), m.controlPointCount,
                                                 m.controlTriangles.get(), m.controlTriangleCount,
                                                 m.renderPositions.get(), m.renderNormals.get(),
                                                 m.renderTexCoords.get(), m.renderVertexCount,
                                                 m.renderTriangles.get(), m.renderTriangleCount);
        }
        return a;
    }();
    return loaded;
}

#define ASSERT_ASSETS_LOADED() ASSERT_TRUE(assets().error.empty()) << assets().error

const Vector3& controlPoint(int i) { return assets().model.controlPoints[i]; }

// The lip line: the height of the lips' middle points, and the mouth's half-width.
float lipLineY() { return controlPoint(controlRole::upperLipMiddle).y; }
float mouthHalfWidth() { return std::fabs(controlPoint(controlRole::leftMouthCorner).x); }

// For every render vertex: whether any of its triangles lies above (bit 1) or below (bit 2)
// the lip line, judged by the triangle's centroid.
std::vector<int> renderSides() {
    const ModelData& m = assets().model;
    std::vector<int> side(m.renderVertexCount, 0);
    for (int32_t t = 0; t < m.renderTriangleCount; ++t) {
        const Triangle& tri = m.renderTriangles[t];
        float cy = 0;
        for (int32_t v : tri.index)
            cy += m.renderPositions[v].y / 3;
        for (int32_t v : tri.index)
            side[v] |= cy > lipLineY() ? 1 : 2;
    }
    return side;
}

// Render vertices of each lip's front: within the middle 80 % of the mouth, within 1 unit
// of the lip line, in front of the mouth corners, and used only by triangles on that lip's
// side of the line.
void lipVertices(std::vector<int32_t>& upper, std::vector<int32_t>& lower) {
    const ModelData& m = assets().model;
    const std::vector<int> side = renderSides();
    const float cornerZ = controlPoint(controlRole::leftMouthCorner).z;
    for (int32_t i = 0; i < m.renderVertexCount; ++i) {
        const Vector3& p = m.renderPositions[i];
        if (std::fabs(p.x) >= 0.8f * mouthHalfWidth() || p.z <= cornerZ ||
            std::fabs(p.y - lipLineY()) >= 1.0f)
            continue;
        if (side[i] == 1 && p.y >= lipLineY())
            upper.push_back(i);
        if (side[i] == 2 && p.y <= lipLineY())
            lower.push_back(i);
    }
}

// Control points on the lip line between the corners, corners included (the lower lip's
// middle point sits a little below the line).
bool onLipLine(int32_t i) {
    const Vector3& p = controlPoint(i);
    return std::fabs(p.y - lipLineY()) < 0.15f && std::fabs(p.x) <= mouthHalfWidth() + 1e-3f;
}

// A lip's control triangles: those with a point on the lip line and their other points on
// that lip's side of it (+1 upper, −1 lower), within the mouth's width.
int lipSideOfControlTriangle(int32_t t) {
    const Triangle& tri = assets().model.controlTriangles[t];
    bool touches = false, above = false, below = false, inside = true;
    for (int32_t v : tri.index) {
        const Vector3& p = controlPoint(v);
        touches = touches || onLipLine(v);
        above = above || (p.y > lipLineY() + 1e-3f && !onLipLine(v));
        below = below || (p.y < lipLineY() - 1e-3f && !onLipLine(v));
        inside = inside && std::fabs(p.x) <= mouthHalfWidth() + 1e-3f;
    }
    if (!touches || !inside)
        return 0;
    return above && !below ? 1 : below && !above ? -1 : 0;
}

// The props' frames as the viewer builds them: x from the first to the second point,
// origin between them, n towards the third; the 3×3 part has columns x, x × n, n. Its
// condition number (largest over smallest singular value) is sqrt((1 + |c|)/(1 − |c|))
// with c = x·n, since x and n are unit vectors and x × n is orthogonal to both.
struct Frame {
    float baseLength; // |B − A|
    float reach;      // |C − (A + B)/2|
    float condition;
};
Frame frameOf(const Vector3& A, const Vector3& B, const Vector3& C) {
    const Vector3 x = normalize(B - A);
    const Vector3 middle = (A + B) * 0.5f;
    const Vector3 n = normalize(C - middle);
    const float c = std::fabs(dot(x, n));
    return {length(B - A), length(C - middle), std::sqrt((1 + c) / (1 - c))};
}
Vector3 centroid(int a, int b, int c) {
    return ((controlPoint(a) + controlPoint(b)) + controlPoint(c)) * 0.33333334f;
}

// Render triangles binned by their shadow on the plane across one viewing direction, to
// tell quickly whether the face hides a point seen from far away along that direction.
class FaceShadow {
  public:
    explicit FaceShadow(const Vector3& towardsViewer) : d(normalize(towardsViewer)) {
        const Vector3 helper = std::fabs(d.y) < 0.9f ? Vector3{0, 1, 0} : Vector3{1, 0, 0};
        e1 = normalize(cross(helper, d));
        e2 = cross(d, e1);
        const ModelData& m = assets().model;
        for (int32_t t = 0; t < m.renderTriangleCount; ++t) {
            float lo1 = INFINITY, hi1 = -INFINITY, lo2 = INFINITY, hi2 = -INFINITY;
            for (int32_t v : m.renderTriangles[t].index) {
                lo1 = std::min(lo1, dot(m.renderPositions[v], e1));
                hi1 = std::max(hi1, dot(m.renderPositions[v], e1));
                lo2 = std::min(lo2, dot(m.renderPositions[v], e2));
                hi2 = std::max(hi2, dot(m.renderPositions[v], e2));
            }
            for (int i = cellOf(lo1); i <= cellOf(hi1); ++i)
                for (int j = cellOf(lo2); j <= cellOf(hi2); ++j)
                    bins[{i, j}].push_back(t);
        }
    }

    // Whether the ray from P towards the viewer passes through a render triangle
    // (Möller–Trumbore; triangles through P itself do not count).
    bool hides(const Vector3& P) const {
        const auto bin = bins.find({cellOf(dot(P, e1)), cellOf(dot(P, e2))});
        if (bin == bins.end())
            return false;
        const ModelData& m = assets().model;
        for (int32_t t : bin->second) {
            const Vector3& a = m.renderPositions[m.renderTriangles[t].index[0]];
            const Vector3 e1t = m.renderPositions[m.renderTriangles[t].index[1]] - a;
            const Vector3 e2t = m.renderPositions[m.renderTriangles[t].index[2]] - a;
            const Vector3 h = cross(d, e2t);
            const float det = dot(e1t, h);
            if (std::fabs(det) < 1e-12f)
                continue;
            const Vector3 s = P - a;
            const float u = dot(s, h) / det;
            const Vector3 q = cross(s, e1t);
            const float v = dot(d, q) / det;
            if (u >= 0 && v >= 0 && u + v <= 1 && dot(e2t, q) / det > 1e-4f)
                return true;
        }
        return false;
    }

  private:
    static constexpr float cell = 0.25f;
    static int cellOf(float t) { return static_cast<int>(std::floor(t / cell)); }
    Vector3 d, e1, e2;
    std::map<std::pair<int, int>, std::vector<int32_t>> bins;
};

// Directions towards viewers in front of the face: straight ahead (first), and turned
// up to 60 degrees to either side and 25 degrees up or down.
std::vector<Vector3> frontDirections() {
    std::vector<Vector3> directions{{0, 0, 1}};
    const float degree = 3.14159265f / 180;
    for (float yaw : {-60.0f, -30.0f, 0.0f, 30.0f, 60.0f})
        for (float pitch : {-25.0f, 0.0f, 25.0f})
            if (yaw != 0 || pitch != 0)
                directions.push_back({std::sin(yaw * degree) * std::cos(pitch * degree),
                                      std::sin(pitch * degree),
                                      std::cos(yaw * degree) * std::cos(pitch * degree)});
    return directions;
}

// Colour of the skin texture where texture coordinates (u, v) land.
struct Colour {
    float r, g, b;
};
Colour texel(const DecodedImage& image, float u, float v) {
    const int x = std::min(image.width - 1, std::max(0, static_cast<int>(u * image.width)));
    const int y = std::min(image.height - 1, std::max(0, static_cast<int>(v * image.height)));
    const uint8_t* p = &image.pixels[(static_cast<size_t>(y) * image.width + x) * image.channels];
    return {p[0] / 255.0f, p[1] / 255.0f, p[2] / 255.0f};
}
// Average skin colour over the render vertices in front (largest z) near (x, y).
Colour skinNear(float x, float y, float radius) {
    const ModelData& m = assets().model;
    Colour sum{0, 0, 0};
    int count = 0;
    for (int32_t i = 0; i < m.renderVertexCount; ++i) {
        const Vector3& p = m.renderPositions[i];
        if (std::hypot(p.x - x, p.y - y) > radius || p.z < 2.0f)
            continue;
        const Colour c =
            texel(assets().textures[skin], m.renderTexCoords[i].u, m.renderTexCoords[i].v);
        sum = {sum.r + c.r, sum.g + c.g, sum.b + c.b};
        ++count;
    }
    EXPECT_GT(count, 0) << "no render vertex near (" << x << ", " << y << ")";
    return count > 0 ? Colour{sum.r / count, sum.g / count, sum.b / count} : sum;
}
float luminance(const Colour& c) { return 0.3f * c.r + 0.59f * c.g + 0.11f * c.b; }

std::string readWholeFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

} // namespace

TEST(DefaultAssets, LoadThroughTheReadersWithTheCountsTheViewerNeeds) {
    ASSERT_ASSETS_LOADED();
    const ModelData& m = assets().model;
    EXPECT_GE(m.renderVertexCount, 8000);
    EXPECT_LE(m.renderVertexCount, 30000);
    EXPECT_GE(m.controlPointCount, 90);
    EXPECT_LE(m.controlPointCount, 250);
    EXPECT_GE(m.controlPointCount, 88); // the props' frames read up to point 87
    EXPECT_GE(m.controlTriangleCount, 200);
    for (int p = 0; p < propCount; ++p)
        EXPECT_GT(assets().props[p].triangleCount, 0) << propFiles[p];
    for (int p : {leftEye, rightEye}) {
        EXPECT_GE(assets().props[p].vertexCount, 200) << propFiles[p];
        EXPECT_LE(assets().props[p].vertexCount, 5000) << propFiles[p];
    }
    std::printf("[ assets   ] N = %d, M = %d, K = %d, L = %d\n", m.renderVertexCount,
                m.renderTriangleCount, m.controlPointCount, m.controlTriangleCount);
}

TEST(DefaultAssets, FaceFitsTheReferenceCubeAndFacesTheCamera) {
    ASSERT_ASSETS_LOADED();
    const ModelData& m = assets().model;
    float low = INFINITY, high = -INFINITY;
    auto inCube = [](const Vector3& p) {
        return std::fabs(p.x) <= 9.5f && std::fabs(p.y) <= 9.5f && std::fabs(p.z) <= 9.5f;
    };
    for (int32_t i = 0; i < m.renderVertexCount; ++i) {
        ASSERT_TRUE(inCube(m.renderPositions[i])) << "render vertex " << i;
        low = std::min(low, m.renderPositions[i].y);
        high = std::max(high, m.renderPositions[i].y);
        ASSERT_TRUE(m.renderTexCoords[i].u >= 0 && m.renderTexCoords[i].u <= 1 &&
                    m.renderTexCoords[i].v >= 0 && m.renderTexCoords[i].v <= 1)
            << "texture coordinates of vertex " << i;
    }
    for (int32_t i = 0; i < m.controlPointCount; ++i)
        ASSERT_TRUE(inCube(m.controlPoints[i])) << "control point " << i;
    for (int p = 0; p < propCount; ++p)
        for (int32_t i = 0; i < assets().props[p].vertexCount; ++i)
            ASSERT_TRUE(inCube(assets().props[p].positions[i])) << propFiles[p] << " vertex " << i;
    EXPECT_GE(high - low, 15.0f);
    EXPECT_LE(high - low, 18.0f);

    // Stored triangles run counter-clockwise seen from the camera: the face's triangles
    // (the middle of the face, in front) have normals towards +z, and so do the vertex
    // normals the reader computed from them.
    int front = 0, facing = 0;
    for (int32_t t = 0; t < m.renderTriangleCount; ++t) {
        const Triangle& tri = m.renderTriangles[t];
        const Vector3 &a = m.renderPositions[tri.index[0]], &b = m.renderPositions[tri.index[1]],
                      &c = m.renderPositions[tri.index[2]];
        if (std::fabs(a.x) > 3.0f || a.z < 3.0f)
            continue;
        ++front;
        facing += cross(b - a, c - a).z > 0;
    }
    EXPECT_GT(facing, 0.97 * front) << facing << " of " << front;
    const int32_t nose = static_cast<int32_t>(
        std::max_element(&m.renderPositions[0], &m.renderPositions[0] + m.renderVertexCount,
                         [](const Vector3& a, const Vector3& b) { return a.z < b.z; }) -
        &m.renderPositions[0]);
    EXPECT_GT(m.renderNormals[nose].z, 0.8f);
    EXPECT_LT(std::fabs(m.renderPositions[nose].x), 0.2f); // the nose tip, in the middle
}

TEST(DefaultAssets, FixedControlPointsPlaceEyesAndMouth) {
    ASSERT_ASSETS_LOADED();
    using namespace controlRole;
    const Vector3 &l0 = controlPoint(leftEyeInner), &l1 = controlPoint(leftEyeOuter);
    const Vector3 &r0 = controlPoint(rightEyeInner), &r1 = controlPoint(rightEyeOuter);
    EXPECT_LT(l1.x, l0.x);
    EXPECT_LT(l0.x, 0.0f);
    EXPECT_GT(r0.x, 0.0f);
    EXPECT_GT(r1.x, r0.x);
    for (int k = 0; k < 3; ++k) {
        const Vector3& left = controlPoint(leftUpperLid[k]);
        const Vector3& right = controlPoint(rightUpperLid[k]);
        EXPECT_TRUE(left.x < l0.x && left.x > l1.x && left.y > l0.y && left.y > l1.y) << k;
        EXPECT_TRUE(right.x > r0.x && right.x < r1.x && right.y > r0.y && right.y > r1.y) << k;
    }
    const Vector3 &m0 = controlPoint(leftMouthCorner), &m1 = controlPoint(rightMouthCorner);
    const Vector3 &upper = controlPoint(upperLipMiddle), &lower = controlPoint(lowerLipMiddle);
    EXPECT_LT(m0.x, 0.0f);
    EXPECT_GT(m1.x, 0.0f);
    EXPECT_LT(std::fabs(upper.x), 0.01f);
    EXPECT_LT(std::fabs(lower.x), 0.01f);
    // The lips touch at rest; the lower lip's point sits just below the upper one's, so
    // that the two can be told apart on screen.
    EXPECT_LT(lower.y, upper.y);
    EXPECT_LT(length(upper - lower), 0.25f);
    EXPECT_LT(upper.y, l0.y - 4.0f); // the mouth well below the eyes
    EXPECT_GT(upper.z, m0.z);        // and its middle in front of its corners
}

TEST(DefaultAssets, PropFramesAreWellConditioned) {
    ASSERT_ASSETS_LOADED();
    using namespace controlRole;
    const Frame frames[4] = {
        frameOf(controlPoint(leftMouthCorner), controlPoint(rightMouthCorner),
                controlPoint(upperLipMiddle)),
        frameOf(controlPoint(leftMouthCorner), controlPoint(rightMouthCorner),
                controlPoint(lowerLipMiddle)),
        frameOf(controlPoint(leftEyeInner), controlPoint(leftEyeOuter),
                centroid(leftUpperLid[0], leftUpperLid[1], leftUpperLid[2])),
        frameOf(controlPoint(rightEyeInner), controlPoint(rightEyeOuter),
                centroid(rightUpperLid[0], rightUpperLid[1], rightUpperLid[2]))};
    for (int f = 0; f < 4; ++f) {
        EXPECT_GT(frames[f].baseLength, 1.0f) << propFiles[f];
        EXPECT_GT(frames[f].reach, 0.3f) << propFiles[f];
        EXPECT_LT(frames[f].condition, 1.5f) << propFiles[f];
        std::printf("[ assets   ] frame of %s: base %.3f, reach %.3f, condition %.4f\n",
                    propFiles[f], frames[f].baseLength, frames[f].reach, frames[f].condition);
    }
}

TEST(DefaultAssets, LipsAreCutApartAndTheirTrianglesComeLast) {
    ASSERT_ASSETS_LOADED();
    const ModelData& m = assets().model;
    // Control mesh: no triangle reaches across the lip line, every edge along it borders a
    // single triangle, and the lips' triangles (and so their sub-patches) come last.
    std::map<std::pair<int32_t, int32_t>, int> lineEdges;
    int upperTriangles = 0, lowerTriangles = 0;
    for (int32_t t = 0; t < m.controlTriangleCount; ++t) {
        const Triangle& tri = m.controlTriangles[t];
        bool above = false, below = false, inside = true;
        for (int32_t v : tri.index) {
            above = above || (controlPoint(v).y > lipLineY() + 1e-3f && !onLipLine(v));
            below = below || (controlPoint(v).y < lipLineY() - 1e-3f && !onLipLine(v));
            inside = inside && std::fabs(controlPoint(v).x) < mouthHalfWidth() - 1e-3f;
        }
        EXPECT_FALSE(above && below && inside) << "control triangle " << t << " spans the mouth";
        for (int k = 0; k < 3; ++k) {
            const int32_t a = tri.index[k], b = tri.index[(k + 1) % 3];
            if (onLipLine(a) && onLipLine(b))
                ++lineEdges[{std::min(a, b), std::max(a, b)}];
        }
        const int side = lipSideOfControlTriangle(t);
        if (side != 0) {
            EXPECT_GE(t, 122) << "lip triangle " << t;
        }
        upperTriangles += side == 1;
        lowerTriangles += side == -1;
    }
    EXPECT_GE(upperTriangles, 2);
    EXPECT_GE(lowerTriangles, 2);
    EXPECT_GE(lineEdges.size(), 4u);
    for (const auto& edge : lineEdges)
        EXPECT_EQ(edge.second, 1) << "lip line edge " << edge.first.first << "-"
                                  << edge.first.second;

    // Render mesh: every vertex on the lip line between the corners belongs to one lip's
    // triangles only, and each position there has a copy for each lip.
    const std::vector<int> side = renderSides();
    std::map<std::pair<float, float>, int> copies;
    for (int32_t i = 0; i < m.renderVertexCount; ++i) {
        const Vector3& p = m.renderPositions[i];
        if (std::fabs(p.y - lipLineY()) > 1e-4f || std::fabs(p.x) >= mouthHalfWidth() - 1e-3f ||
            p.z < 0)
            continue;
        EXPECT_TRUE(side[i] == 1 || side[i] == 2) << "render vertex " << i << " joins both lips";
        ++copies[{p.x, p.z}];
    }
    EXPECT_GE(copies.size(), 20u);
    for (const auto& c : copies)
        EXPECT_EQ(c.second, 2) << "lip line vertex at x = " << c.first.first;
}

TEST(DefaultAssets, EyelidTrianglesComeLast) {
    ASSERT_ASSETS_LOADED();
    const ModelData& m = assets().model;
    // The eye openings are holes: their rims are control edges with one triangle each;
    // every triangle touching a rim point is an eyelid triangle and must come after the
    // first 122.
    std::map<std::pair<int32_t, int32_t>, int> edgeUse;
    for (int32_t t = 0; t < m.controlTriangleCount; ++t)
        for (int k = 0; k < 3; ++k) {
            const int32_t a = m.controlTriangles[t].index[k],
                          b = m.controlTriangles[t].index[(k + 1) % 3];
            ++edgeUse[{std::min(a, b), std::max(a, b)}];
        }
    const Vector3 &l0 = controlPoint(controlRole::leftEyeInner),
                  &l1 = controlPoint(controlRole::leftEyeOuter);
    auto nearAnEye = [&](const Vector3& p) {
        const float ax = std::fabs(p.x);
        return ax >= std::fabs(l0.x) - 1e-3f && ax <= std::fabs(l1.x) + 1e-3f &&
               std::fabs(p.y - l0.y) < 1.0f;
    };
    std::set<int32_t> rim;
    for (const auto& e : edgeUse)
        if (e.second == 1 && nearAnEye(controlPoint(e.first.first)) &&
            nearAnEye(controlPoint(e.first.second))) {
            rim.insert(e.first.first);
            rim.insert(e.first.second);
        }
    for (int role :
         {controlRole::leftEyeInner, controlRole::leftEyeOuter, controlRole::rightEyeInner,
          controlRole::rightEyeOuter, controlRole::leftUpperLid[1], controlRole::rightUpperLid[1]})
        EXPECT_EQ(rim.count(role), 1u) << "control point " << role << " is not on an eye's rim";
    for (int32_t t = 0; t < m.controlTriangleCount; ++t)
        for (int32_t v : m.controlTriangles[t].index)
            if (rim.count(v) != 0) {
                EXPECT_GE(t, 122) << "eyelid triangle " << t;
            }
}

TEST(DefaultAssets, EveryRenderVertexHangsCloseToTheSurface) {
    ASSERT_ASSETS_LOADED();
    const FaceModel& face = *assets().face;
    int attached = 0, strong = 0;
    float lowest = 1;
    for (int32_t i = 0; i < face.renderVertexCount; ++i) {
        const Attachment& a = face.attachments[i];
        attached += a.subPatch >= 0;
        strong += a.weight >= 0.9f;
        if (a.subPatch >= 0)
            lowest = std::min(lowest, a.weight);
    }
    const double n = face.renderVertexCount;
    EXPECT_GE(attached / n, 0.98);
    EXPECT_GE(strong / n, 0.90);
    std::printf("[ assets   ] attached %.2f %%, weight >= 0.9 %.2f %%, lowest weight %.3f\n",
                100 * attached / n, 100 * strong / n, lowest);
}

TEST(DefaultAssets, NoLipVertexHangsOnTheOtherLip) {
    ASSERT_ASSETS_LOADED();
    const FaceModel& face = *assets().face;
    std::vector<int32_t> upper, lower;
    lipVertices(upper, lower);
    ASSERT_GT(upper.size(), 100u);
    ASSERT_GT(lower.size(), 100u);
    for (int32_t i : upper) {
        const int32_t s = face.attachments[i].subPatch;
        ASSERT_GE(s, 0) << "upper lip vertex " << i << " unattached";
        EXPECT_NE(lipSideOfControlTriangle(s / 3), -1) << "upper lip vertex " << i;
    }
    for (int32_t i : lower) {
        const int32_t s = face.attachments[i].subPatch;
        ASSERT_GE(s, 0) << "lower lip vertex " << i << " unattached";
        EXPECT_NE(lipSideOfControlTriangle(s / 3), 1) << "lower lip vertex " << i;
    }
}

TEST(DefaultAssets, PullingTheLowerLipDownOpensTheMouthWithoutTearing) {
    ASSERT_ASSETS_LOADED();
    const ModelData& m = assets().model;
    FaceModel& face = *assets().face;
    std::vector<Vector3> points(&m.controlPoints[0], &m.controlPoints[0] + m.controlPointCount);
    points[controlRole::lowerLipMiddle].y -= 1.5f;
    std::vector<Vector3> positions(m.renderVertexCount), normals(m.renderVertexCount);
    face.update(positions.data(), normals.data(), points.data());

    std::vector<int32_t> upper, lower;
    lipVertices(upper, lower);
    double upperMean = 0, lowerMean = 0;
    float upperMax = 0, lowerMax = 0;
    for (int32_t i : upper) {
        const float d = length(positions[i] - m.renderPositions[i]);
        upperMean += d / upper.size();
        upperMax = std::max(upperMax, d);
    }
    for (int32_t i : lower) {
        const float d = length(positions[i] - m.renderPositions[i]);
        lowerMean += d / lower.size();
        lowerMax = std::max(lowerMax, d);
    }
    EXPECT_GT(lowerMax, 1.2f);
    EXPECT_GT(lowerMean, 0.3);
    EXPECT_LT(upperMax, 0.05f);
    // No render edge grows beyond three times its rest length.
    float worst = 0;
    for (int32_t t = 0; t < m.renderTriangleCount; ++t)
        for (int k = 0; k < 3; ++k) {
            const int32_t a = m.renderTriangles[t].index[k],
                          b = m.renderTriangles[t].index[(k + 1) % 3];
            const float rest = length(m.renderPositions[a] - m.renderPositions[b]);
            if (rest > 0)
                worst = std::max(worst, length(positions[a] - positions[b]) / rest);
        }
    EXPECT_LE(worst, 3.0f);
    std::printf("[ assets   ] point 87 down 1.5: lower lip moves %.3f mean, %.3f max; upper lip "
                "%.5f mean, %.5f max; longest edge %.3f times its rest length\n",
                lowerMean, lowerMax, upperMean, upperMax, worst);
}

TEST(DefaultAssets, EyesLookForwardThroughTheOpenings) {
    ASSERT_ASSETS_LOADED();
    for (int e : {leftEye, rightEye}) {
        const PropData& eye = assets().props[e];
        Vector3 centre{0, 0, 0};
        for (int32_t i = 0; i < eye.vertexCount; ++i)
            centre = centre + eye.positions[i] * (1.0f / eye.vertexCount);
        // A sphere whose normals point outwards.
        float nearest = INFINITY, farthest = 0;
        for (int32_t i = 0; i < eye.vertexCount; ++i) {
            const Vector3 out = eye.positions[i] - centre;
            nearest = std::min(nearest, length(out));
            farthest = std::max(farthest, length(out));
            ASSERT_GT(dot(eye.normals[i], out), 0.0f) << propFiles[e] << " vertex " << i;
        }
        EXPECT_LT(farthest / nearest, 1.05f) << propFiles[e];
        // Between its eye's corners, and its pupil (v = 0) in front, seen by the camera.
        const float inner =
            controlPoint(e == leftEye ? controlRole::leftEyeInner : controlRole::rightEyeInner).x;
        const float outer =
            controlPoint(e == leftEye ? controlRole::leftEyeOuter : controlRole::rightEyeOuter).x;
        EXPECT_GT(centre.x, std::min(inner, outer));
        EXPECT_LT(centre.x, std::max(inner, outer));
        float front = -INFINITY;
        for (int32_t i = 0; i < eye.vertexCount; ++i)
            front = std::max(front, eye.positions[i].z);
        const FaceShadow ahead(Vector3{0, 0, 1});
        int pupils = 0;
        for (int32_t i = 0; i < eye.vertexCount; ++i)
            if (eye.texCoords[i].v == 0) {
                ++pupils;
                EXPECT_EQ(eye.positions[i].z, front) << propFiles[e];
                EXPECT_FALSE(ahead.hides(eye.positions[i])) << propFiles[e] << " pupil hidden";
            }
        EXPECT_GT(pupils, 0) << propFiles[e];
        // It shows only through its opening, seen from up to 30 degrees aside (from farther
        // aside the lids are seen edge-on): every eyeball vertex facing the viewer that the
        // face does not hide lies, seen along the viewing direction, inside the opening's
        // rim (the render mesh's border edges around the eye; an odd number of them crossed
        // on the way out).
        const ModelData& m = assets().model;
        std::map<std::pair<int32_t, int32_t>, int> edgeUse;
        for (int32_t t = 0; t < m.renderTriangleCount; ++t)
            for (int k = 0; k < 3; ++k) {
                const int32_t a = m.renderTriangles[t].index[k],
                              b = m.renderTriangles[t].index[(k + 1) % 3];
                ++edgeUse[{std::min(a, b), std::max(a, b)}];
            }
        std::vector<std::pair<Vector3, Vector3>> rim;
        for (const auto& edge : edgeUse) {
            const Vector3 &a = m.renderPositions[edge.first.first],
                          &b = m.renderPositions[edge.first.second];
            if (edge.second == 1 && length(a - centre) < 2 * farthest &&
                length(b - centre) < 2 * farthest)
                rim.push_back({a, b});
        }
        ASSERT_GT(rim.size(), 20u) << propFiles[e] << ": no opening around the eye";
        for (const Vector3& direction : frontDirections()) {
            if (direction.z < 0.85f)
                continue;
            const FaceShadow shadow(direction);
            const Vector3 e1 = normalize(cross(Vector3{0, 1, 0}, direction)),
                          e2 = cross(direction, e1);
            for (int32_t i = 0; i < eye.vertexCount; ++i) {
                const Vector3& P = eye.positions[i];
                if (dot(eye.normals[i], direction) <= 0 || shadow.hides(P))
                    continue;
                const float px = dot(P, e1), py = dot(P, e2);
                int crossings = 0;
                for (const auto& edge : rim) {
                    const float ax = dot(edge.first, e1), ay = dot(edge.first, e2);
                    const float bx = dot(edge.second, e1), by = dot(edge.second, e2);
                    if ((ay > py) != (by > py) && px < ax + (py - ay) * (bx - ax) / (by - ay))
                        ++crossings;
                }
                ASSERT_EQ(crossings % 2, 1)
                    << propFiles[e] << " vertex " << i << " shows outside its opening, seen from ("
                    << direction.x << ", " << direction.y << ", " << direction.z << ")";
            }
        }
    }
}

TEST(DefaultAssets, TeethHideBehindTheLipsAtRest) {
    ASSERT_ASSETS_LOADED();
    std::vector<FaceShadow> shadows;
    for (const Vector3& direction : frontDirections())
        shadows.emplace_back(direction);
    float upperY = 0, lowerY = 0;
    for (int p : {upperTeeth, lowerTeeth}) {
        const PropData& teeth = assets().props[p];
        float meanY = 0;
        for (int32_t i = 0; i < teeth.vertexCount; ++i) {
            const Vector3& v = teeth.positions[i];
            meanY += v.y / teeth.vertexCount;
            EXPECT_LE(std::fabs(v.x), mouthHalfWidth()) << propFiles[p] << " vertex " << i;
            EXPECT_GT(teeth.normals[i].z, 0.5f) << propFiles[p] << " vertex " << i << " faces away";
            for (size_t k = 0; k < shadows.size(); ++k)
                ASSERT_TRUE(shadows[k].hides(v))
                    << propFiles[p] << " vertex " << i << " shows at rest from direction " << k;
        }
        (p == upperTeeth ? upperY : lowerY) = meanY;
    }
    EXPECT_GT(upperY, lipLineY());
    EXPECT_LT(lowerY, lipLineY());
}

TEST(DefaultAssets, TexturesHaveTheFormatsTheViewerReads) {
    ASSERT_ASSETS_LOADED();
    const DecodedImage& skinImage = assets().textures[skin];
    EXPECT_EQ(skinImage.width, 1024);
    EXPECT_EQ(skinImage.height, 1024);
    EXPECT_EQ(skinImage.channels, 3);
    EXPECT_EQ(readWholeFile(dataPath("white_skin.tga"))[2], 10) << "not run-length encoded";
    for (int t : {leftEyeTexture, rightEyeTexture})
        EXPECT_EQ(assets().textures[t].channels, 3) << textureFiles[t];
    for (int t : {upperTeethTexture, lowerTeethTexture}) {
        const DecodedImage& image = assets().textures[t];
        EXPECT_EQ(image.channels, 4) << textureFiles[t];
        EXPECT_EQ(image.components, 4) << textureFiles[t] << ": alpha does not vary";
        std::set<int> alphas;
        for (int32_t i = 0; i < image.width * image.height; ++i)
            alphas.insert(image.pixels[i * 4 + 3]);
        EXPECT_EQ(alphas.count(0), 1u) << textureFiles[t] << ": nothing cut out";
        EXPECT_EQ(alphas.count(255), 1u) << textureFiles[t];
        EXPECT_GT(alphas.size(), 10u) << textureFiles[t] << ": no soft edges";
    }
    // Eyes: the pupil at the top rows (the front pole), white towards the back.
    const DecodedImage& eye = assets().textures[leftEyeTexture];
    EXPECT_LT(luminance(texel(eye, 0.5f, 0.0f)), 0.1f);
    EXPECT_GT(luminance(texel(eye, 0.5f, 0.5f)), 0.8f);
}

TEST(DefaultAssets, SkinIsPaintedWhereTheFeaturesAre) {
    ASSERT_ASSETS_LOADED();
    const Vector3& lips = controlPoint(controlRole::lowerLipMiddle);
    const Vector3& lid = controlPoint(controlRole::leftUpperLid[1]);
    const Colour forehead = skinNear(0.0f, 5.5f, 0.4f);
    const Colour lowerLip = skinNear(0.0f, lips.y - 0.3f, 0.12f);
    const Colour brow = skinNear(lid.x, lid.y + 1.0f, 0.12f);
    const Colour cheek = skinNear(-3.8f, -1.3f, 0.3f);
    // Skin tone: red over green over blue; lips clearly red; brows darker; cheeks rosier.
    EXPECT_GT(forehead.r, forehead.g);
    EXPECT_GT(forehead.g, forehead.b);
    EXPECT_GT(luminance(forehead), 0.6f);
    EXPECT_GT(lowerLip.r - lowerLip.g, 0.25f);
    EXPECT_LT(luminance(brow), 0.8f * luminance(forehead));
    EXPECT_GT((cheek.r - cheek.g) / cheek.r, (forehead.r - forehead.g) / forehead.r);
}

TEST(FaceAssetsGenerator, ReproducesTheCommittedDataByteForByte) {
    char folder[] = "/tmp/face-assets-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const bool written = writeDefaultAssets(folder, nullptr);
    for (const char* name : defaultAssetNames) {
        const std::string path = std::string(folder) + "/" + name;
        if (written) {
            const std::string fresh = readWholeFile(path),
                              committed = readWholeFile(dataPath(name));
            EXPECT_FALSE(fresh.empty()) << name;
            EXPECT_TRUE(fresh == committed) << name << " differs from the committed file";
        }
        std::remove(path.c_str());
    }
    rmdir(folder);
    EXPECT_TRUE(written);
}

TEST(FaceAssetsGenerator, DenseVariantIsTheSameFaceWithAboutTenTimesTheVertices) {
    FaceMesh standard, dense;
    buildRenderMesh(standard, defaultRenderSpacing);
    buildRenderMesh(dense, renderSpacingFor(1e5));
    EXPECT_GT(dense.positions.size(), 85000u);
    EXPECT_LT(dense.positions.size(), 115000u);
    // The same outline: the extreme coordinates agree closely.
    auto extent = [](const FaceMesh& mesh, double Point3::*axis, bool highest) {
        double e = highest ? -INFINITY : INFINITY;
        for (const Point3& p : mesh.positions)
            e = highest ? std::max(e, p.*axis) : std::min(e, p.*axis);
        return e;
    };
    for (double Point3::*axis : {&Point3::x, &Point3::y, &Point3::z})
        for (bool highest : {false, true})
            EXPECT_NEAR(extent(dense, axis, highest), extent(standard, axis, highest), 0.05);
}
