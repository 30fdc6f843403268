#include "io/texture.h"
#include "tests/io_test_files.h"
#include "tests/support/gl_context.h"

#include <GL/gl.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <jpeglib.h>

namespace {

// A picture as the decoder should deliver it: rows top first, R G B (A).
struct Picture {
    int width, height, channels;
    std::vector<uint8_t> pixels;
};

// A picture whose every byte differs from its neighbours', so that row order, mirroring and
// channel order all show.
Picture testPicture(int width, int height, int channels) {
    Picture picture{width, height, channels, {}};
    for (int i = 0; i < width * height * channels; ++i)
        picture.pixels.push_back(static_cast<uint8_t>(i * 7 + 3));
    return picture;
}

// The TGA file of a picture: true colour (type 2, or 10 with run-length packets), stored
// bottom row first unless topFirst, bytes B G R (A).
std::vector<uint8_t> tgaFile(const Picture& picture, bool rle = false, bool topFirst = false) {
    const int bpp = picture.channels;
    std::vector<uint8_t> file(18, 0);
    file[0] = 3; // an image id of three bytes, to be skipped
    file[2] = rle ? 10 : 2;
    file[12] = uint8_t(picture.width & 0xFF);
    file[13] = uint8_t(picture.width >> 8);
    file[14] = uint8_t(picture.height & 0xFF);
    file[15] = uint8_t(picture.height >> 8);
    file[16] = uint8_t(bpp * 8);
    file[17] = uint8_t((bpp == 4 ? 8 : 0) | (topFirst ? 0x20 : 0));
    file.insert(file.end(), {'i', 'd', '!'});
    // Pixels in stored order.
    std::vector<std::vector<uint8_t>> stored;
    for (int r = 0; r < picture.height; ++r) {
        const int row = topFirst ? r : picture.height - 1 - r;
        for (int x = 0; x < picture.width; ++x) {
            const uint8_t* p = &picture.pixels[(size_t(row) * picture.width + x) * bpp];
            std::vector<uint8_t> bgra = {p[2], p[1], p[0]};
            if (bpp == 4)
                bgra.push_back(p[3]);
            stored.push_back(bgra);
        }
    }
    size_t i = 0;
    while (i < stored.size()) {
        if (!rle) {
            file.insert(file.end(), stored[i].begin(), stored[i].end());
            ++i;
            continue;
        }
        size_t run = 1;
        while (i + run < stored.size() && run < 128 && stored[i + run] == stored[i])
            ++run;
        if (run >= 2) {
            file.push_back(uint8_t(0x80 | (run - 1)));
            file.insert(file.end(), stored[i].begin(), stored[i].end());
            i += run;
            continue;
        }
        size_t raw = 1;
        while (i + raw < stored.size() && raw < 128 &&
               !(i + raw + 1 < stored.size() && stored[i + raw] == stored[i + raw + 1]))
            ++raw;
        file.push_back(uint8_t(raw - 1));
        for (size_t k = 0; k < raw; ++k)
            file.insert(file.end(), stored[i + k].begin(), stored[i + k].end());
        i += raw;
    }
    return file;
}

// A baseline JPEG of the picture at quality 100: colour (3 channels) or greyscale (1).
std::vector<uint8_t> jpegFile(int width, int height, int components,
                              const std::vector<uint8_t>& pixels) {
    jpeg_compress_struct info;
    jpeg_error_mgr errors;
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = JDIMENSION(width);
    info.image_height = JDIMENSION(height);
    info.input_components = components;
    info.in_color_space = components == 3 ? JCS_RGB : JCS_GRAYSCALE;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 100, TRUE);
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        JSAMPROW row =
            const_cast<uint8_t*>(&pixels[size_t(info.next_scanline) * width * components]);
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    std::vector<uint8_t> file(buffer, buffer + size);
    std::free(buffer);
    return file;
}

// A smooth colour picture (JPEG keeps it within a few levels at quality 100).
Picture smoothPicture(int width, int height) {
    Picture picture{width, height, 3, {}};
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            picture.pixels.insert(picture.pixels.end(),
                                  {uint8_t(40 + x * 8), uint8_t(200 - y * 8), uint8_t(120)});
    return picture;
}

bool decodeTga(DecodedImage& image, const std::vector<uint8_t>& file, std::string& error) {
    return decodeTgaBuffer(image, file.data(), file.size(), "t.tga", error);
}

std::vector<uint8_t> pixelsOf(const DecodedImage& image) {
    return std::vector<uint8_t>(image.pixels.get(), image.pixels.get() + size_t(image.width) *
                                                                             image.height *
                                                                             image.channels);
}

TEST(TgaDecoding, BottomFirstFileArrivesTopRowFirst) {
    const Picture picture = testPicture(3, 2, 3);
    DecodedImage image;
    std::string error;
    ASSERT_TRUE(decodeTga(image, tgaFile(picture), error)) << error;
    EXPECT_EQ(image.width, 3);
    EXPECT_EQ(image.height, 2);
    EXPECT_EQ(image.channels, 3);
    EXPECT_EQ(image.components, 3);
    EXPECT_EQ(pixelsOf(image), picture.pixels);
    // A file stored top row first gives the same picture, and so does one whose stored rows
    // run right to left.
    std::vector<uint8_t> file = tgaFile(picture, false, true);
    ASSERT_TRUE(decodeTga(image, file, error)) << error;
    EXPECT_EQ(pixelsOf(image), picture.pixels);
    file[17] |= 0x10;
    for (int r = 0; r < 2; ++r)
        for (int c = 0; c < 3; ++c)
            std::swap(file[21 + r * 9 + c], file[21 + r * 9 + 6 + c]);
    ASSERT_TRUE(decodeTga(image, file, error)) << error;
    EXPECT_EQ(pixelsOf(image), picture.pixels);
}

TEST(TgaDecoding, RunLengthFileEqualsItsUncompressedTwin) {
    // Runs across row ends, raw stretches and runs longer than one packet (128 pixels).
    Picture picture{37, 9, 4, {}};
    for (int i = 0; i < 37 * 9; ++i) {
        const int shade = (i < 150) ? 10 : (i < 160 ? i : 20 + (i / 7) * 3);
        picture.pixels.insert(picture.pixels.end(),
                              {uint8_t(shade), uint8_t(shade + 1), uint8_t(255 - shade),
                               uint8_t(i < 150 ? 255 : i % 3 * 100)});
    }
    const std::vector<uint8_t> rle = tgaFile(picture, true);
    const std::vector<uint8_t> plain = tgaFile(picture, false);
    ASSERT_LT(rle.size(), plain.size());
    DecodedImage fromRle, fromPlain;
    std::string error;
    ASSERT_TRUE(decodeTga(fromRle, rle, error)) << error;
    ASSERT_TRUE(decodeTga(fromPlain, plain, error)) << error;
    EXPECT_EQ(pixelsOf(fromRle), picture.pixels);
    EXPECT_EQ(pixelsOf(fromPlain), picture.pixels);
    EXPECT_EQ(fromRle.components, 4);
}

TEST(TgaDecoding, AlphaDecidesTheComponentCount) {
    Picture picture = testPicture(4, 3, 4);
    for (size_t i = 3; i < picture.pixels.size(); i += 4)
        picture.pixels[i] = 255;
    DecodedImage image;
    std::string error;
    ASSERT_TRUE(decodeTga(image, tgaFile(picture), error)) << error;
    EXPECT_EQ(image.channels, 4); // uploaded as RGBA all the same
    EXPECT_EQ(image.components, 3);
    EXPECT_EQ(pixelsOf(image), picture.pixels);

    // One pixel's alpha differs: the last one in buffer order (the file's first).
    picture.pixels.back() = 254;
    ASSERT_TRUE(decodeTga(image, tgaFile(picture), error)) << error;
    EXPECT_EQ(image.components, 4);

    // A one-pixel picture, with any alpha.
    Picture one{1, 1, 4, {9, 8, 7, 0}};
    ASSERT_TRUE(decodeTga(image, tgaFile(one, true), error)) << error;
    EXPECT_EQ(image.components, 3);
    EXPECT_EQ(pixelsOf(image), one.pixels);
}

TEST(TgaDecoding, RefusesWhatIsNotA24Or32BitTrueColourImage) {
    DecodedImage image;
    std::string error;
    std::vector<uint8_t> file = tgaFile(testPicture(2, 2, 3));
    file[16] = 16; // 16 bits per pixel (the data is long enough for it)
    EXPECT_FALSE(decodeTga(image, file, error));
    EXPECT_EQ(error, "t.tga: TGA header: 16 bits per pixel (only 24 and 32 are read)");
    EXPECT_EQ(image.pixels, nullptr);

    file = tgaFile(testPicture(2, 2, 3));
    file[2] = 3; // greyscale
    EXPECT_FALSE(decodeTga(image, file, error));
    EXPECT_EQ(error, "t.tga: TGA header: image type 3 (only true colour, types 2 and 10, is read)");
    file[2] = 2;
    file[1] = 1;
    EXPECT_FALSE(decodeTga(image, file, error));
    EXPECT_EQ(error, "t.tga: TGA header: the file has a colour map");
    EXPECT_FALSE(decodeTgaBuffer(image, file.data(), 17, "t.tga", error));
    EXPECT_EQ(error, "t.tga: TGA header: the file has 17 bytes, fewer than a header");
    file = tgaFile(testPicture(1, 1, 3));
    file[12] = uint8_t(16385 & 0xFF);
    file[13] = uint8_t(16385 >> 8);
    EXPECT_FALSE(decodeTga(image, file, error));
    EXPECT_EQ(error, "t.tga: TGA header: the image is 16385 by 1 pixels, more than 16384 on a "
                     "side");
}

TEST(TgaDecoding, RefusesImageDataThatEndsEarly) {
    DecodedImage image;
    std::string error;
    const std::vector<uint8_t> plain = tgaFile(testPicture(5, 4, 3));
    EXPECT_FALSE(decodeTgaBuffer(image, plain.data(), plain.size() - 1, "t.tga", error));
    EXPECT_EQ(error, "t.tga: TGA image data: the file ends at pixel 19 of 20");
    Picture flat{300, 1, 3, std::vector<uint8_t>(900, 77)};
    const std::vector<uint8_t> rle = tgaFile(flat, true); // packets of 128, 128, 44 pixels
    EXPECT_FALSE(decodeTgaBuffer(image, rle.data(), rle.size() - 1, "t.tga", error));
    EXPECT_EQ(error, "t.tga: TGA image data: the file ends at pixel 256 of 300");
    EXPECT_EQ(image.pixels, nullptr);
}

TEST(JpegDecoding, ColourJpegDecodesTopRowFirst) {
    const Picture picture = smoothPicture(17, 11);
    const std::vector<uint8_t> file = jpegFile(17, 11, 3, picture.pixels);
    DecodedImage image;
    std::string error;
    ASSERT_TRUE(decodeJpegBuffer(image, file.data(), file.size(), "t.jpg", error)) << error;
    EXPECT_EQ(image.width, 17);
    EXPECT_EQ(image.height, 11);
    EXPECT_EQ(image.channels, 3);
    EXPECT_EQ(image.components, 3);
    for (size_t i = 0; i < picture.pixels.size(); ++i)
        ASSERT_NEAR(image.pixels[i], picture.pixels[i], 6) << "byte " << i;
}

TEST(JpegDecoding, RefusesGreyscaleCorruptAndOversizedFiles) {
    DecodedImage image;
    std::string error;
    const std::vector<uint8_t> grey = jpegFile(8, 8, 1, std::vector<uint8_t>(64, 100));
    EXPECT_FALSE(decodeJpegBuffer(image, grey.data(), grey.size(), "g.jpg", error));
    EXPECT_EQ(error, "g.jpg: JPEG header: 1 colour components (only 3-component colour images "
                     "are read)");

    const Picture picture = smoothPicture(64, 64);
    std::vector<uint8_t> file = jpegFile(64, 64, 3, picture.pixels);
    // Truncated: libjpeg would warn and fill the rest with grey; refused instead.
    EXPECT_FALSE(decodeJpegBuffer(image, file.data(), file.size() / 2, "c.jpg", error));
    EXPECT_EQ(error, "c.jpg: JPEG data: Premature end of JPEG file");
    // Not a JPEG at all: a fatal error in libjpeg, and the process carries on.
    const uint8_t junk[] = {0xFF, 0xD8, 0xFF, 0x00, 1, 2, 3, 4};
    EXPECT_FALSE(decodeJpegBuffer(image, junk, sizeof junk, "c.jpg", error));
    EXPECT_EQ(error.rfind("c.jpg: JPEG data: ", 0), 0u) << error;
    EXPECT_FALSE(decodeJpegBuffer(image, junk, 0, "c.jpg", error));
    EXPECT_EQ(image.pixels, nullptr);

    // The frame header's height and width (after FF C0, length, precision) set to 20000.
    for (size_t i = 0; i + 8 < file.size(); ++i)
        if (file[i] == 0xFF && file[i + 1] == 0xC0) {
            file[i + 5] = file[i + 7] = uint8_t(20000 >> 8);
            file[i + 6] = file[i + 8] = uint8_t(20000 & 0xFF);
            break;
        }
    EXPECT_FALSE(decodeJpegBuffer(image, file.data(), file.size(), "big.jpg", error));
    EXPECT_EQ(error, "big.jpg: JPEG header: the image is 20000 by 20000 pixels, more than 16384 "
                     "on a side");
}

TEST(ImageFiles, FormatIsChosenBySubstringOfTheName) {
    EXPECT_EQ(imageFormatOf("data/white_skin.tga"), ImageFormat::tga);
    EXPECT_EQ(imageFormatOf("skin.tga.bak"), ImageFormat::tga);
    EXPECT_EQ(imageFormatOf("skin.jpg.tga"), ImageFormat::tga);
    EXPECT_EQ(imageFormatOf("skin.jpeg"), ImageFormat::jpeg);
    EXPECT_EQ(imageFormatOf("a.jpg/b"), ImageFormat::jpeg);
    EXPECT_EQ(imageFormatOf("skin.JPG"), ImageFormat::none);
    EXPECT_EQ(imageFormatOf("skin.TGA"), ImageFormat::none);

    TempDir dir;
    const Picture picture = smoothPicture(8, 8);
    const std::vector<uint8_t> jpeg = jpegFile(8, 8, 3, picture.pixels);
    DecodedImage image;
    std::string error;
    ASSERT_TRUE(decodeImage(image, dir.write("pic.jpeg", jpeg).c_str(), error)) << error;
    ASSERT_TRUE(decodeImage(image, dir.write("pic.tga.bak", tgaFile(picture)).c_str(), error))
        << error;
    EXPECT_EQ(pixelsOf(image), picture.pixels);
    const std::string upper = dir.write("pic.JPG", jpeg);
    EXPECT_FALSE(decodeImage(image, upper.c_str(), error));
    EXPECT_EQ(error, upper + ": the name has neither \".tga\" nor \".jpg\" or \".jpeg\" in it");
    // A JPEG named .tga is refused by the TGA reader, not decoded as a JPEG.
    EXPECT_FALSE(decodeImage(image, dir.write("jpeg.tga", jpeg).c_str(), error));
    EXPECT_NE(error.find("TGA header"), std::string::npos) << error;
    const std::string missing = dir.path + "/missing.tga";
    EXPECT_FALSE(decodeImage(image, missing.c_str(), error));
    EXPECT_EQ(error, missing + ": cannot open (No such file or directory)");
}

class TextureUpload : public OffscreenGLTest {
  protected:
    GLint boundTexture() {
        GLint name = -1;
        glGetIntegerv(GL_TEXTURE_BINDING_2D, &name);
        return name;
    }

    // Level 0 of the bound texture read back as packed rows.
    std::vector<uint8_t> readBack(int w, int h, int channels) {
        std::vector<uint8_t> pixels(size_t(w) * h * channels, 0);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glGetTexImage(GL_TEXTURE_2D, 0, channels == 4 ? GL_RGBA : GL_RGB, GL_UNSIGNED_BYTE,
                      pixels.data());
        return pixels;
    }
};

TEST_F(TextureUpload, OddWidthAndThirtyTwoBitImagesUploadExactly) {
    // One pixel wide: rows of 3 bytes, which a 4-byte unpack alignment would shear. (Sizes
    // that are not powers of two get scaled by the mip-map builder, so they cannot be
    // compared exactly.)
    TempDir dir;
    const Picture picture = testPicture(1, 4, 3);
    int imageWidth = 0, imageHeight = 0, components = 0;
    std::string error;
    const uint32_t name = loadTexture(imageWidth, imageHeight, components,
                                      dir.write("odd.tga", tgaFile(picture, true)).c_str(), &error);
    ASSERT_NE(name, noTexture) << error;
    EXPECT_EQ(imageWidth, 1);
    EXPECT_EQ(imageHeight, 4);
    EXPECT_EQ(components, 3);
    EXPECT_EQ(boundTexture(), GLint(name));
    EXPECT_EQ(readBack(1, 4, 3), picture.pixels);

    // A 32-bit image is uploaded as RGBA even when its alpha is constant.
    Picture rgba = testPicture(2, 2, 4);
    for (size_t i = 3; i < rgba.pixels.size(); i += 4)
        rgba.pixels[i] = 128;
    ASSERT_NE(
        loadTexture(imageWidth, imageHeight, components, dir.write("a.tga", tgaFile(rgba)).c_str()),
        noTexture);
    EXPECT_EQ(components, 3);
    EXPECT_EQ(readBack(2, 2, 4), rgba.pixels);
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

TEST_F(TextureUpload, RefusedFileMakesNoTextureAndLeavesTheOutputs) {
    TempDir dir;
    std::vector<uint8_t> sixteen = tgaFile(testPicture(2, 2, 3));
    sixteen[16] = 16;
    const Picture picture = smoothPicture(8, 8);
    const std::string files[] = {dir.write("s.tga", sixteen),
                                 dir.write("g.jpg", jpegFile(8, 8, 1, std::vector<uint8_t>(64))),
                                 dir.write("c.jpg", std::string("\xFF\xD8\xFF\xE0 broken")),
                                 dir.write("p.JPG", jpegFile(8, 8, 3, picture.pixels)),
                                 dir.path + "/missing.tga"};
    for (const std::string& file : files) {
        int imageWidth = 7, imageHeight = 8, components = 9;
        std::string error;
        EXPECT_EQ(loadTexture(imageWidth, imageHeight, components, file.c_str(), &error),
                  noTexture);
        EXPECT_EQ(error.rfind(file + ": ", 0), 0u) << error;
        EXPECT_EQ(imageWidth, 7);
        EXPECT_EQ(imageHeight, 8);
        EXPECT_EQ(components, 9);
        EXPECT_EQ(loadTexture(imageWidth, imageHeight, components, file.c_str()), noTexture);
    }
    // No texture name was taken and none bound.
    EXPECT_EQ(boundTexture(), 0);
    GLuint next = 0;
    glGenTextures(1, &next);
    EXPECT_EQ(next, 1u);
}

} // namespace
