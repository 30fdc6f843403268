// face-import's writing side: the skin picture and the ten files of a data folder.
#pragma once

#include "tools/import/import_cage.h"
#include "tools/import/import_mesh.h"

#include <cstdint>
#include <string>
#include <vector>

// Largest side of the written skin texture; larger pictures are scaled down.
constexpr int32_t maxSkinSide = 4096;

// An 8-bit RGB picture, rows packed, top row first.
struct Picture {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> rgb;
};

// A one-pixel picture of the given colour.
Picture solidPicture(uint8_t r, uint8_t g, uint8_t b);

// Decodes an image file (PNG, JPEG, TGA, BMP and the other formats stb_image reads), opened
// as the readers open theirs (openFileContents). Returns false with one line in error when
// it cannot.
bool readPicture(Picture& picture, const std::string& fileName, std::string& error);

// Decodes a picture embedded in a mesh file (encoded bytes, or B, G, R, A texels).
bool decodeEmbeddedPicture(Picture& picture, const EmbeddedPicture& embedded, std::string& error);

// Scales the picture down (keeping its aspect) so that neither side exceeds maxSide.
void limitPictureSide(Picture& picture, int32_t maxSide);

// Writes folder/data/ (made if missing) with the viewer's ten files: retarget.model from
// the render mesh and the control cage, four empty props and their one-pixel textures, and
// white_skin.tga from skin (24-bit, run-length encoded). Returns false with one line in error
// when a file cannot be written.
bool writeDataFolder(const std::string& folder, const ImportedMesh& render, const ControlCage& cage,
                     const Picture& skin, std::string& error);
