#include "draw/texture_upload.h"

#include <GL/gl.h>
#include <GL/glu.h>

GLenum uploadTexture(uint32_t& name, const DecodedImage& image) {
    GLuint made = 0;
    glGenTextures(1, &made);
    glBindTexture(GL_TEXTURE_2D, made);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_NEAREST);
    glTexEnvf(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
    // RGB rows of an odd width are not 4-byte aligned; ours are packed.
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    const GLint status = gluBuild2DMipmaps(GL_TEXTURE_2D, image.channels, image.width, image.height,
                                           image.channels == 4 ? GL_RGBA : GL_RGB, GL_UNSIGNED_BYTE,
                                           image.pixels.get());
    // GLU's scaled copies and the mip levels may not fit where the decoded image did: an
    // incomplete texture would be drawn without a word.
    if (status != 0) {
        glDeleteTextures(1, &made);
        name = noTexture;
        return GLenum(status);
    }
    name = made;
    return GL_NO_ERROR;
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
    uint32_t name = noTexture;
    const GLenum status = uploadTexture(name, image);
    if (status != GL_NO_ERROR) {
        if (error)
            *error = std::string(fileName) + ": the texture could not be made (" +
                     reinterpret_cast<const char*>(gluErrorString(status)) + ")";
        return noTexture;
    }
    width = image.width;
    height = image.height;
    components = image.components;
    return name;
}
