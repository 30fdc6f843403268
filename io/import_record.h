// The record face-import keeps beside a data folder (FOLDER/import-record.txt): where the
// model came from, and how to take a pose back to the source's own scene. Text, one value or
// one row a line; blank lines and lines starting with '#' are skipped:
//   source <path as given>                 (the rest of the line)
//   absolute <the same path, absolute>      (the rest of the line; what is read again)
//   size <bytes>
//   modified <seconds> <nanoseconds>       (the source's modification time, since 1970)
//   meshes <count>
//   mesh <assimp mesh index> <vertex count>    (count pairs of lines, the meshes used, in
//   transform <16 values, row by row>           order, with the node transform that places
//                                               the mesh in the scene)
//   scale <s>
//   rotation <r00> <r01> <r02>             (three lines, the rows of R)
//   centre <x> <y> <z>
//   vertices <total>                       (the sum of the meshes' vertex counts)
//   <render vertex>                        (total lines, mesh by mesh, −1: not used)
// Model units from the source's scene (node transforms applied): p' = scale · R · (p − centre).
// A mesh's own vertex p lies at transform · p in the scene.
// The vertices are numbered as assimp reads the file with triangulation alone (no joining).
#pragma once

#include "geometry/matrix.h"
#include "geometry/vector.h"

#include <cstdint>
#include <string>
#include <vector>

constexpr const char importRecordFile[] = "import-record.txt";

struct ImportRecord {
    std::string source;          // the source file's path as given to face-import
    std::string absolute;        // the same, absolute (face-import's folder then)
    uint64_t size = 0;           // its size in bytes
    int64_t modifiedSeconds = 0; // its modification time
    int64_t modifiedNanoseconds = 0;
    std::vector<int32_t> meshes;         // the assimp mesh indices used, in order
    std::vector<int32_t> meshVertices;   // each one's vertex count
    std::vector<Matrix4> meshTransforms; // each one's node transform, mesh to scene
    float scale = 1.0f;                  // placement: p' = scale · R · (p − centre)
    float rotation[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}; // R, rows
    Vector3 centre = {0.0f, 0.0f, 0.0f};
    std::vector<int32_t> renderVertex; // per source vertex, mesh by mesh: render vertex or −1
    std::string folder; // the folder the record was read from (readImportRecord; not written)
};

// Writes the record (reals with nine significant digits, which read back unchanged). Returns
// false with one line in error ("<file>: cannot be written (<reason>)").
bool writeImportRecord(const char* fileName, const ImportRecord& record, std::string& error);

// Reads a record. Refused, with one line "<file>, line <L>: <what>" and record untouched:
// a line other than the one expected there (a missing key, another key, a wrong number of
// values), a value that is not an integer or finite real as the model reader reads them, a
// negative count or size, a vertex count that does not add up, a render vertex below −1, and
// a record that ends before its last line ("the record ends before ..."). A file that cannot
// be opened: openFileContents' line.
bool readImportRecord(ImportRecord& record, const char* fileName, std::string& error);

// The same on size bytes in memory (data may be null when size is 0), named fileName in the
// messages.
bool readImportRecordBuffer(ImportRecord& record, const char* data, size_t size,
                            const char* fileName, std::string& error);

// Source position from model units: centre + Rᵀ · p' / scale (the placement undone).
Vector3 sourcePosition(const ImportRecord& record, const Vector3& modelPosition);

// Model units from a source position: scale · R · (p − centre) (the placement).
Vector3 modelPosition(const ImportRecord& record, const Vector3& sourcePosition);

// Source direction (a normal) from model units: Rᵀ · n' (rotations keep unit length).
Vector3 sourceDirection(const ImportRecord& record, const Vector3& modelDirection);

// Checks that the source file (absolute) is still the one the record was made from: its size
// and modification time. Returns false with one line in error otherwise ("<source>: changed
// since the import ..." or the reason it cannot be read).
bool sourceUnchanged(const ImportRecord& record, std::string& error);
