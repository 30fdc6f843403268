#include "tools/import/import_write.h"

#include "io/data_folder.h"
#include "io/file_contents.h"
#include "io/image_file.h"
#include "io/messages.h"
#include "io/model_file.h"
#include "io/prop.h"

#include <stb_image.h>
#include <stb_image_resize.h>

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>

namespace {

// Decodes an encoded picture (PNG, JPEG, ...) of size bytes; what starts the message.
bool decodePicture(DecodedImage& picture, const void* bytes, size_t size, const std::string& what,
                   std::string& error) {
    if (size > size_t(INT_MAX))
        return fileError(error, what, "the file is too large");
    int width = 0, height = 0, channels = 0;
    stbi_uc* pixels = stbi_load_from_memory(static_cast<const stbi_uc*>(bytes),
                                            static_cast<int>(size), &width, &height, &channels, 3);
    if (!pixels) {
        error = what + " (" + stbi_failure_reason() + ")";
        return false;
    }
    allocateImage(picture, width, height, 3);
    std::copy(pixels, pixels + size_t(width) * height * 3, picture.pixels.get());
    stbi_image_free(pixels);
    return true;
}

} // namespace

void solidPicture(DecodedImage& picture, uint8_t r, uint8_t g, uint8_t b) {
    allocateImage(picture, 1, 1, 3);
    picture.pixels[0] = r;
    picture.pixels[1] = g;
    picture.pixels[2] = b;
}

bool readPicture(DecodedImage& picture, const std::string& fileName, std::string& error) {
    // Opened like every other input, so a FIFO, a device or a huge file is refused.
    FileContents contents;
    if (!openFileContents(contents, fileName.c_str(), error))
        return false;
    return decodePicture(picture, contents.data, contents.size,
                         fileName + ": cannot read the picture", error);
}

bool decodeEmbeddedPicture(DecodedImage& picture, const EmbeddedPicture& embedded,
                           std::string& error) {
    if (embedded.height > 0) {
        allocateImage(picture, embedded.width, embedded.height, 3);
        for (size_t i = 0; i < size_t(embedded.width) * embedded.height; ++i)
            for (int c = 0; c < 3; ++c)
                picture.pixels[3 * i + c] = embedded.bytes[4 * i + 2 - c];
        return true;
    }
    return decodePicture(picture, embedded.bytes.data(), embedded.bytes.size(),
                         "embedded picture: cannot decode", error);
}

void limitPictureSide(DecodedImage& picture, int32_t maxSide) {
    const int32_t side = std::max(picture.width, picture.height);
    if (side <= maxSide)
        return;
    const double factor = double(maxSide) / side;
    DecodedImage smaller;
    allocateImage(smaller, std::max(1, static_cast<int32_t>(picture.width * factor)),
                  std::max(1, static_cast<int32_t>(picture.height * factor)), 3);
    stbir_resize_uint8(picture.pixels.get(), picture.width, picture.height, 0, smaller.pixels.get(),
                       smaller.width, smaller.height, 0, 3);
    picture = std::move(smaller);
}

void existingDataFiles(std::vector<std::string>& names, const std::string& folder) {
    names.clear();
    std::vector<const char*> files = {sceneModelFile, sceneSkinTextureFile};
    for (const PropSlotSource& source : propSlotSources) {
        files.push_back(source.propFile);
        files.push_back(source.textureFile);
    }
    std::error_code unused;
    for (const char* file : files)
        if (std::filesystem::exists(std::filesystem::path(folder) / file, unused))
            names.push_back(file);
}

std::string renderMeshSections(const ImportedMesh& render) {
    // The reader stores a render triangle a b c as (a, c, b): the stored order written is
    // the counter-clockwise front winding.
    std::string out;
    appendMeshSections(out, render.positions.data(), render.texCoords.data(),
                       int32_t(render.positions.size()), render.triangles.data(),
                       int32_t(render.triangles.size()), RealFormat::nineDigits);
    return out;
}

bool writeDataFolder(const std::string& folder, std::string& renderSections,
                     const ControlCage& cage, const DecodedImage& skin, std::string& error) {
    // The viewer's own file names (all under data/), below the folder; each writer makes the
    // folders it needs.
    const auto path = [&folder](const char* file) { return folder + "/" + file; };
    if (!writeModelFile(path(sceneModelFile).c_str(), renderSections, cage.points.data(),
                        int32_t(cage.points.size()), cage.triangles.data(),
                        int32_t(cage.triangles.size()), error) ||
        !writeTgaFile(path(sceneSkinTextureFile).c_str(), skin, true, error))
        return false;
    // Empty props: no vertices, no triangles; each with a white pixel as its texture.
    DecodedImage white;
    solidPicture(white, 255, 255, 255);
    for (const PropSlotSource& source : propSlotSources)
        if (!writePropFile(path(source.propFile).c_str(), nullptr, nullptr, 0, nullptr, 0, error) ||
            !writeTgaFile(path(source.textureFile).c_str(), white, true, error))
            return false;
    return true;
}

bool recordImport(ImportRecord& record, const char* meshFile, const ImportedMesh& render,
                  std::string& error) {
    struct stat status;
    std::error_code failed;
    const std::filesystem::path absolute = std::filesystem::absolute(meshFile, failed);
    if (failed || stat(meshFile, &status) != 0)
        return fileError(error, meshFile,
                         std::string("cannot be looked at (") +
                             std::strerror(failed ? failed.value() : errno) + ")");
    record = ImportRecord();
    record.source = meshFile;
    record.absolute = absolute.lexically_normal().string();
    record.size = uint64_t(status.st_size);
    record.modifiedSeconds = int64_t(status.st_mtim.tv_sec);
    record.modifiedNanoseconds = int64_t(status.st_mtim.tv_nsec);
    for (const SourceMesh& source : render.sources) {
        record.meshes.push_back(source.mesh);
        record.meshVertices.push_back(int32_t(source.renderVertex.size()));
        record.meshTransforms.push_back(source.transform);
        record.renderVertex.insert(record.renderVertex.end(), source.renderVertex.begin(),
                                   source.renderVertex.end());
    }
    return true;
}
