// face-import's reading side: one triangle mesh out of any file assimp reads, joined,
// oriented and placed in the viewer's model units.
#pragma once

#include "geometry/vector.h"

#include <cstdint>
#include <string>
#include <vector>

// A triangle mesh in this system's conventions: texture coordinates with v = 0 at the top
// row of the picture, triangles counter-clockwise as seen from outside (the source's front
// winding).
struct ImportedMesh {
    std::vector<Vector3> positions;  // N
    std::vector<TexCoord> texCoords; // N (all zero when the source has none)
    std::vector<Triangle> triangles; // M, indices below N
    bool hasTexCoords = false;
    // The mesh's diffuse texture as its material names it ("" for none; "*<i>" names a
    // picture embedded in the file, as assimp does).
    std::string texture;
};

// One mesh of a file, for the listing printed when a file holds several.
struct MeshListing {
    std::string name;
    int32_t vertexCount = 0;
    int32_t triangleCount = 0;
};

// A picture embedded in the file: encoded bytes (PNG, JPEG, ...) when height is 0, else
// width × height texels B, G, R, A.
struct EmbeddedPicture {
    std::vector<uint8_t> bytes;
    int32_t width = 0;
    int32_t height = 0;
};

// Reads mesh meshIndex (or, when it is −1, the one with the most triangles) of the file,
// triangulated, with the transform of the first scene node that uses it applied. Points and
// lines are dropped; vertices with equal position, texture coordinates and (where the file
// has them) normals are joined, in order of first use, and triangles that joining collapses
// are dropped. The normals keep apart the two sides of a cut that share positions and
// texture coordinates, such as closed lips: formats that store one vertex per triangle
// corner (OBJ, as assimp reads it) would otherwise sew such a cut shut. listing receives
// every mesh of the file; chosen the index read. When the material names an embedded
// picture it goes to embedded. Returns false with one line in error when the file cannot
// be read, the index is out of range, a position or texture coordinate used is not finite
// or no triangle is left.
bool readImportedMesh(ImportedMesh& mesh, std::vector<MeshListing>& listing, int32_t& chosen,
                      EmbeddedPicture& embedded, const char* fileName, int32_t meshIndex,
                      std::string& error);

// Axis names: x, y, z with an optional sign ("-z", "+y"). Returns false on anything else.
bool parseAxis(Vector3& axis, const char* text);

// Placement into the viewer's model units: p' = scale · R · (p − centre), where R turns the
// source's up axis to +y and its front axis to +z, centre is the middle of the mesh's
// bounding box and scale makes the box height along up equal to height.
struct Placement {
    float rotation[3][3]; // rows: the source directions that become +x, +y, +z
    Vector3 centre;
    float scale;
};

// The identity placement (--keep-placement).
Placement keptPlacement();

// The placement of positions (N > 0) for the given source axes (unit, perpendicular) and
// height. Returns false with error when the box has no extent along up.
bool computePlacement(Placement& placement, const std::vector<Vector3>& positions,
                      const Vector3& up, const Vector3& front, float height, std::string& error);

// Applies the placement to every position. A rotation with determinant −1 cannot occur
// (the third axis is up × front), so the winding stays.
void applyPlacement(std::vector<Vector3>& positions, const Placement& placement);

// Texture coordinates for a mesh without them: the front view (x, y) of the placed mesh's
// box mapped onto the picture, top row at the top.
void frontPlanarTexCoords(ImportedMesh& mesh);
