#include "tools/import/import_write.h"

#include "app/scene.h"
#include "io/file_contents.h"
#include "io/model_file.h"

#include <stb_image.h>
#include <stb_image_resize.h>
#include <stb_image_write.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <filesystem>

namespace {

bool fail(std::string& error, const std::string& path, const char* what) {
    error = path + ": " + what;
    return false;
}

bool writeText(const std::string& path, const std::string& text, std::string& error) {
    std::FILE* file = std::fopen(path.c_str(), "w");
    if (!file)
        return fail(error, path, "cannot be written");
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    return (std::fclose(file) == 0 && written) || fail(error, path, "cannot be written");
}

bool writeTga(const std::string& path, const Picture& picture, std::string& error) {
    stbi_write_tga_with_rle = 1;
    return stbi_write_tga(path.c_str(), picture.width, picture.height, 3, picture.rgb.data()) ||
           fail(error, path, "cannot be written");
}

// Decodes an encoded picture (PNG, JPEG, ...) of size bytes; what starts the message.
bool decodePicture(Picture& picture, const void* bytes, size_t size, const std::string& what,
                   std::string& error) {
    if (size > size_t(INT_MAX))
        return fail(error, what, "the file is too large");
    int width = 0, height = 0, channels = 0;
    stbi_uc* pixels = stbi_load_from_memory(static_cast<const stbi_uc*>(bytes),
                                            static_cast<int>(size), &width, &height, &channels, 3);
    if (!pixels) {
        error = what + " (" + stbi_failure_reason() + ")";
        return false;
    }
    picture.width = width;
    picture.height = height;
    picture.rgb.assign(pixels, pixels + size_t(width) * height * 3);
    stbi_image_free(pixels);
    return true;
}

} // namespace

Picture solidPicture(uint8_t r, uint8_t g, uint8_t b) {
    Picture picture;
    picture.width = picture.height = 1;
    picture.rgb = {r, g, b};
    return picture;
}

bool readPicture(Picture& picture, const std::string& fileName, std::string& error) {
    // Opened like every other input, so a FIFO, a device or a huge file is refused.
    FileContents contents;
    if (!openFileContents(contents, fileName.c_str(), error))
        return false;
    return decodePicture(picture, contents.data, contents.size,
                         fileName + ": cannot read the picture", error);
}

bool decodeEmbeddedPicture(Picture& picture, const EmbeddedPicture& embedded, std::string& error) {
    if (embedded.height > 0) {
        picture.width = embedded.width;
        picture.height = embedded.height;
        picture.rgb.resize(size_t(embedded.width) * embedded.height * 3);
        for (size_t i = 0; i < picture.rgb.size() / 3; ++i)
            for (int c = 0; c < 3; ++c)
                picture.rgb[3 * i + c] = embedded.bytes[4 * i + 2 - c];
        return true;
    }
    return decodePicture(picture, embedded.bytes.data(), embedded.bytes.size(),
                         "embedded picture: cannot decode", error);
}

void limitPictureSide(Picture& picture, int32_t maxSide) {
    const int32_t side = std::max(picture.width, picture.height);
    if (side <= maxSide)
        return;
    const double factor = double(maxSide) / side;
    Picture smaller;
    smaller.width = std::max(1, static_cast<int32_t>(picture.width * factor));
    smaller.height = std::max(1, static_cast<int32_t>(picture.height * factor));
    smaller.rgb.resize(size_t(smaller.width) * smaller.height * 3);
    stbir_resize_uint8(picture.rgb.data(), picture.width, picture.height, 0, smaller.rgb.data(),
                       smaller.width, smaller.height, 0, 3);
    picture = std::move(smaller);
}

bool writeDataFolder(const std::string& folder, const ImportedMesh& render, const ControlCage& cage,
                     const Picture& skin, std::string& error) {
    // The viewer's own file names (all under data/), below the folder.
    const auto path = [&folder](const char* file) { return folder + "/" + file; };
    std::error_code made;
    std::filesystem::create_directories(path("data"), made);
    if (made)
        return fail(error, path("data"), "cannot be made");
    // The reader stores a render triangle a b c as (a, c, b): the stored order written is
    // the counter-clockwise front winding.
    if (!writeModelFile(path(sceneModelFile).c_str(), render.positions.data(),
                        render.texCoords.data(), int32_t(render.positions.size()),
                        render.triangles.data(), int32_t(render.triangles.size()),
                        cage.points.data(), int32_t(cage.points.size()), cage.triangles.data(),
                        int32_t(cage.triangles.size()), error) ||
        !writeTga(path(sceneSkinTextureFile), skin, error))
        return false;
    // Empty props: no vertices, no triangles; each with a white pixel as its texture.
    const Picture white = solidPicture(255, 255, 255);
    for (const PropSlotSource& source : propSlotSources)
        if (!writeText(path(source.propFile), "0\n0\n", error) ||
            !writeTga(path(source.textureFile), white, error))
            return false;
    return true;
}
