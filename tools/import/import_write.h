// face-import's writing side: the skin picture and the ten files of a data folder.
#pragma once

#include "io/import_record.h"
#include "io/texture.h"
#include "tools/import/cage_rules.h"
#include "tools/import/import_mesh.h"

#include <cstdint>
#include <string>
#include <vector>

// Largest side of the written skin texture; larger pictures are scaled down.
constexpr int32_t maxSkinSide = 4096;

// Pictures are 8-bit RGB (channels 3), rows top first.

// Makes picture one pixel of the given colour.
void solidPicture(DecodedImage& picture, uint8_t r, uint8_t g, uint8_t b);

// Decodes an image file (PNG, JPEG, TGA, BMP and the other formats stb_image reads), opened
// as the readers open theirs (openFileContents). Returns false with one line in error when
// it cannot.
bool readPicture(DecodedImage& picture, const std::string& fileName, std::string& error);

// Decodes a picture embedded in a mesh file (encoded bytes, or B, G, R, A texels).
bool decodeEmbeddedPicture(DecodedImage& picture, const EmbeddedPicture& embedded,
                           std::string& error);

// Scales the picture down (keeping its aspect) so that neither side exceeds maxSide.
void limitPictureSide(DecodedImage& picture, int32_t maxSide);

// The viewer's files that folder already holds (an earlier import), as paths below it
// ("data/retarget.model", ...), in the order writeDataFolder writes them.
void existingDataFiles(std::vector<std::string>& names, const std::string& folder);

// The render mesh as the first five sections of the model file (appendMeshSections with
// nine significant digits), formatted ahead: on a 1M-vertex scan it takes about a second,
// which runs while the control mesh is made.
std::string renderMeshSections(const ImportedMesh& render);

// Writes folder/data/ (made if missing) with the viewer's ten files: retarget.model from
// the render mesh's sections (renderMeshSections, consumed) and the control cage, four
// empty props and their one-pixel textures, and white_skin.tga from skin (24-bit, run-length
// encoded). Returns false with one line in error ("<file>: cannot be written (<reason>)") at
// the first file that cannot be written.
bool writeDataFolder(const std::string& folder, std::string& renderSections,
                     const ControlCage& cage, const DecodedImage& skin, std::string& error);

// The record of this import (io/import_record.h) but for the placement, which it leaves the
// identity: the mesh file as given and made absolute, its size and modification time (call
// it right after reading the file), the meshes read with their node transforms and where
// each of their vertices went. Returns false with one line in error when the file cannot be
// looked at.
bool recordImport(ImportRecord& record, const char* meshFile, const ImportedMesh& render,
                  std::string& error);
