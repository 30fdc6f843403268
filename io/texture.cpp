#include "io/texture.h"

#include "io/file_contents.h"
#include "io/memory_budget.h"

#include <GL/gl.h>
#include <GL/glu.h>

bool decodeImage(DecodedImage& out, const char* fileName, std::string& error) {
    const ImageFormat format = imageFormatOf(fileName);
    if (format == ImageFormat::none) {
        error = std::string(fileName) + ": the name has neither \".tga\" nor \".jpg\" or " +
                "\".jpeg\" in it";
        return false;
    }
    FileContents contents;
    if (!openFileContents(contents, fileName, error))
        return false;
    const uint8_t* data = reinterpret_cast<const uint8_t*>(contents.data);
    const uint64_t available = availableMemoryBytes();
    if (format == ImageFormat::tga)
        return decodeTgaBuffer(out, data, contents.size, fileName, error, maxImageSide, available);
    return decodeJpegBuffer(out, data, contents.size, fileName, error, maxImageSide, available);
}

uint32_t uploadTexture(const DecodedImage& image) {
    GLuint name = 0;
    glGenTextures(1, &name);
    glBindTexture(GL_TEXTURE_2D, name);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_NEAREST);
    glTexEnvf(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
    // RGB rows of an odd width are not 4-byte aligned; ours are packed.
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    gluBuild2DMipmaps(GL_TEXTURE_2D, image.channels, image.width, image.height,
                      image.channels == 4 ? GL_RGBA : GL_RGB, GL_UNSIGNED_BYTE, image.pixels.get());
    return name;
}

uint32_t loadTexture(int& width, int& height, int& components, const char* fileName,
                     std::string* error) {
    DecodedImage image;
    std::string reason;
    if (!decodeImage(image, fileName, reason)) {
        if (error)
            *error = reason;
        return noTexture;
    }
    const uint32_t name = uploadTexture(image);
    width = image.width;
    height = image.height;
    components = image.components;
    return name;
}
