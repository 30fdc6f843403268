// face-import's reading side: one triangle mesh out of any file assimp reads, joined,
// oriented and placed in the viewer's model units.
#pragma once

#include "geometry/matrix.h"
#include "geometry/vector.h"

#include <cstdint>
#include <string>
#include <vector>

// One mesh of the file that went into the render mesh, and where each of its vertices went:
// what a later step needs to carry a pose back to the source's own scene.
struct SourceMesh {
    int32_t mesh = -1; // its index in the file
    // Its node transform, mesh to scene: that of the first node (depth first) that lists it,
    // the identity when none does. A mesh that several nodes list comes in once, placed so.
    Matrix4 transform = Matrix4::identity();
    // One entry per vertex of the mesh as assimp reads the file with triangulation alone (no
    // joining; the file's own numbering, which for OBJ is one vertex per face corner): the
    // render vertex it became, or −1 when no triangle of the mesh uses it.
    std::vector<int32_t> renderVertex;
};

// The up and front axes of a file's scene, in the scene's frame as read (node transforms
// applied, so also the turn that some of assimp's importers put in the root node), and where
// they come from. In the order looked at:
// - the axes assimp reports in the scene's metadata ("UpAxis", "UpAxisSign", "FrontAxis",
//   "FrontAxisSign", as the FBX importer sets them from the file's global settings; assimp
//   applies them to nothing, so they are turned by the root node's transform here, which
//   also keeps them right should an importer apply them there);
// - the format's own axes: glTF's +y up and +z front by definition; Collada's up_axis, which
//   assimp's root node applies (Y_UP, also its default, keeps +z toward the viewer);
// - a convention fixed by the format, which assimp's scene does not carry: MD2 (Quake II's
//   models face +x; assimp's root turns their z up to +y), Blender (z up, its Front view
//   looking along +y at models that face −y) and trueSpace's .cob (z up; the dwarf of
//   assimp's test models faces +y);
// - else none: +y up, facing +z.
struct StatedAxes {
    Vector3 up = {0.0f, 1.0f, 0.0f};
    Vector3 front = {0.0f, 0.0f, 1.0f};
    // For face-import's line, e.g. "the file's own axes (FBX UpAxis and FrontAxis)"; empty
    // when the file states none. Stated axes that are not two different axes along x, y or
    // z after the root's turn are taken as none, and note says so (else it is empty).
    std::string source;
    std::string note;
};

// A triangle mesh in this system's conventions: texture coordinates with v = 0 at the top
// row of the picture, triangles counter-clockwise as seen from outside (the source's front
// winding).
struct ImportedMesh {
    std::vector<Vector3> positions;  // N
    std::vector<TexCoord> texCoords; // N (all zero when the source has none)
    std::vector<Triangle> triangles; // M, indices below N
    bool hasTexCoords = false;       // some mesh read has them (the others' are zero)
    // The diffuse texture as the material of the largest mesh read names it ("" for none;
    // "*<i>" names a picture embedded in the file, as assimp does).
    std::string texture;
    std::vector<SourceMesh> sources; // the meshes read, in the file's order
    StatedAxes axes;                 // the up and front axes the file states
};

// One mesh of a file, for the listing printed when a file holds several.
struct MeshListing {
    std::string name;
    int32_t vertexCount = 0; // as assimp reads them, before joining
    int32_t triangleCount = 0;
};

// Every mesh of a file, and what all of them together would give.
struct MeshFileListing {
    std::vector<MeshListing> meshes; // in the file's order
    int32_t largest = -1;            // the mesh with the most triangles
    // For a file of several meshes: the distinct positions that triangles of all of them use
    // (node transforms applied), the most points an automatic control mesh of --mesh all
    // can have; −1 for a file of one mesh.
    int32_t allPointCount = -1;
};

// Which meshes of a file to read (--mesh).
struct MeshSelection {
    bool all = false;             // every mesh of the file
    std::vector<int32_t> indices; // else these, ascending and distinct; empty: the largest
};

// "all", or mesh indices separated by commas ("0,3,5", in any order, repeats ignored).
// Returns false on anything else.
bool parseMeshSelection(MeshSelection& selection, const char* text);

// Corners whose normals differ by less than this join (--crease).
constexpr float defaultCreaseDegrees = 60.0f;

// A picture embedded in the file: encoded bytes (PNG, JPEG, ...) when height is 0, else
// width × height texels B, G, R, A.
struct EmbeddedPicture {
    std::vector<uint8_t> bytes;
    int32_t width = 0;
    int32_t height = 0;
};

// Reads the selected meshes of the file into one render mesh, triangulated, each with its
// node transform applied (see SourceMesh). Points and lines are dropped.
//
// The file is first opened as every reader opens its input (openFileContents: a FIFO,
// directory or device is refused before assimp sees it), then read by assimp under an
// address-space limit: the memory available, and at most max(1 GB, 256 times the file's
// size), so that a header announcing billions of items is refused at once instead of
// filling gigabytes. What assimp or its parsers write to standard output or error while
// reading is caught: it goes into the error line of a file refused, and is dropped when the
// file is read.
//
// Joining: corners join where position and texture coordinates are equal (bytes, through
// meshoptimizer's remap) and their normals (where the file has them) differ by less than
// creaseDegrees (0 to 180): the first corner of a position starts a render vertex, a later
// one joins the first render vertex there whose first normal is within the angle, else
// starts another. Render vertices are numbered in order of first use. So a triangle soup
// (STL, per-face normals) becomes one smooth surface, while the two sides of a closed cut
// (lips: equal position and texture coordinates, normals far apart) stay apart. A zero or
// non-finite normal, or none, joins anything. Triangles that joining collapses are dropped.
//
// listing receives every mesh of the file; a picture embedded in the file that the
// texture names goes to embedded. Returns false with one line in error when the file
// cannot be read, an index is out of range, a position or texture coordinate used is not
// finite or no triangle is left.
bool readImportedMesh(ImportedMesh& mesh, MeshFileListing& listing, EmbeddedPicture& embedded,
                      const char* fileName, const MeshSelection& selection, float creaseDegrees,
                      std::string& error);

// For the one-line refusal of an automatic control mesh of fewer than minPoints points: for
// a file of one mesh "the mesh is too small"; for several, the meshes, those used and what
// --mesh all would give, e.g.
//   3 meshes: 0 "Head" (120 vertices, 200 triangles), 1 "Eye" (60 vertices, 96 triangles),
//   2 "Eye.001" (60 vertices, 96 triangles); used: 0; --mesh all would give at most 210
//   points, enough
// (one line; after 32 meshes the rest are counted, "and 40 more").
void describeMeshChoice(std::string& text, const MeshFileListing& listing, const ImportedMesh& mesh,
                        int32_t minPoints);

// Axis names: x, y, z with an optional sign ("-z", "+y"). Returns false on anything else.
bool parseAxis(Vector3& axis, const char* text);

// The name of a unit axis, sign first ("+x", "-z"); "?" for any other vector.
const char* axisName(const Vector3& axis);

// Placement into the viewer's model units: p' = scale · R · (p − centre), where R turns the
// source's up axis to +y and its front axis to +z, centre is the middle of the mesh's
// bounding box and scale makes the box height along up equal to height.
// The centre and scale are kept in double, as the positions are placed: each placed
// coordinate is rounded once, so copies of a file in other units land as near each other as
// their files' own rounding allows (the import record keeps them as floats).
struct Placement {
    float rotation[3][3]; // rows: the source directions that become +x, +y, +z
    double centre[3];
    double scale;
};

// The identity placement (--keep-placement).
Placement keptPlacement();

// The placement of positions (N > 0) for the given source axes (unit, perpendicular) and
// height. Returns false with error when the box has no extent along up (the line names up).
bool computePlacement(Placement& placement, const std::vector<Vector3>& positions,
                      const Vector3& up, const Vector3& front, float height, std::string& error);

// Applies the placement to every position. A rotation with determinant −1 cannot occur
// (the third axis is up × front), so the winding stays.
void applyPlacement(std::vector<Vector3>& positions, const Placement& placement);

// Texture coordinates for a mesh without them: the front view (x, y) of the placed mesh's
// box mapped onto the picture, top row at the top.
void frontPlanarTexCoords(ImportedMesh& mesh);
