#include "draw/texture_upload.h"
#include "io/texture.h"
#include "tests/support/gl_context.h"
#include "tests/support/io_test_files.h"

#include <gtest/gtest.h>
#include <stb_image_write.h>

#include <algorithm>

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

void append(void* to, void* data, int size) {
    auto& file = *static_cast<std::vector<uint8_t>*>(to);
    file.insert(file.end(), static_cast<uint8_t*>(data), static_cast<uint8_t*>(data) + size);
}

// The TGA file stb_image_write makes of a picture: true colour, bottom row first, run-length
// encoded (type 10) or not (type 2).
std::vector<uint8_t> tgaFile(const Picture& picture, bool rle = true) {
    std::vector<uint8_t> file;
    stbi_write_tga_with_rle = rle ? 1 : 0;
    stbi_write_tga_to_func(append, &file, picture.width, picture.height, picture.channels,
                           picture.pixels.data());
    return file;
}

// stb_image_write's baseline JPEG of a colour picture at quality 100 (no subsampling).
std::vector<uint8_t> jpegFile(const Picture& picture) {
    std::vector<uint8_t> file;
    stbi_write_jpg_to_func(append, &file, picture.width, picture.height, 3, picture.pixels.data(),
                           100);
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

// Decodes by the name's format, as decodeImage does with a file.
bool decode(DecodedImage& image, const std::vector<uint8_t>& file, const std::string& name,
            std::string& error, uint64_t availableBytes = unlimitedMemory) {
    const auto decoder =
        imageFormatOf(name.c_str()) == ImageFormat::tga ? decodeTgaBuffer : decodeJpegBuffer;
    return decoder(image, file.data(), file.size(), name.c_str(), error, maxImageSide,
                   availableBytes);
}

// Offset of the first JPEG marker FF <code>.
long markerAt(const std::vector<uint8_t>& file, uint8_t code) {
    const uint8_t marker[2] = {0xFF, code};
    return std::search(file.begin(), file.end(), marker, marker + 2) - file.begin();
}

std::vector<uint8_t> pixelsOf(const DecodedImage& image) {
    const size_t size = size_t(image.width) * image.height * image.channels;
    return std::vector<uint8_t>(image.pixels.get(), image.pixels.get() + size);
}

TEST(TgaDecoding, EveryRowOrderArrivesTopRowFirst) {
    const Picture picture = testPicture(3, 2, 3);
    DecodedImage image;
    std::string error;
    std::vector<uint8_t> file = tgaFile(picture, false);
    ASSERT_TRUE(decode(image, file, "t.tga", error)) << error;
    EXPECT_TRUE(image.width == 3 && image.height == 2 && image.channels == 3 &&
                image.components == 3);
    EXPECT_EQ(pixelsOf(image), picture.pixels);
    // Stored top row first (descriptor bit 5 and the rows swapped) ...
    const size_t data = 18 + file[0], row = 9;
    file[17] |= 0x20;
    std::swap_ranges(file.begin() + data, file.begin() + data + row, file.begin() + data + row);
    ASSERT_TRUE(decode(image, file, "t.tga", error)) << error;
    EXPECT_EQ(pixelsOf(image), picture.pixels);
    // ... and with its rows running right to left (bit 4 and every row mirrored).
    file[17] |= 0x10;
    for (size_t r = 0; r < 2; ++r)
        for (size_t c = 0; c < 3; ++c)
            std::swap(file[data + r * row + c], file[data + r * row + 6 + c]);
    ASSERT_TRUE(decode(image, file, "t.tga", error)) << error;
    EXPECT_EQ(pixelsOf(image), picture.pixels);
}

TEST(TgaDecoding, AlphaDecidesTheComponentCount) {
    // Run-length encoded (stb's default here): constant alpha, then one pixel's alpha
    // different (the last in buffer order, the file's first), then a single pixel, then a run
    // longer than two packets followed by raw stretches: components 3, 4, 3 and 4.
    Picture constant = testPicture(4, 3, 4), runs = testPicture(137, 9, 4);
    for (size_t i = 3; i < constant.pixels.size(); i += 4)
        constant.pixels[i] = 255;
    Picture varying = constant;
    varying.pixels.back() = 254;
    std::fill(runs.pixels.begin(), runs.pixels.begin() + 4 * 300, uint8_t(10));
    const std::pair<Picture, int32_t> cases[] = {
        {constant, 3}, {varying, 4}, {{1, 1, 4, {9, 8, 7, 0}}, 3}, {runs, 4}};
    for (const auto& [picture, components] : cases) {
        DecodedImage image;
        std::string error;
        ASSERT_TRUE(decode(image, tgaFile(picture), "t.tga", error)) << error;
        EXPECT_EQ(image.channels, 4);
        EXPECT_EQ(image.components, components);
        EXPECT_EQ(pixelsOf(image), picture.pixels);
    }
}

TEST(JpegDecoding, ColourJpegDecodesTopRowFirstDespiteHarmlessWarnings) {
    const Picture picture = smoothPicture(17, 11);
    std::vector<uint8_t> file = jpegFile(picture);
    // Two bytes of junk before the quantisation table's marker, and a JFIF major revision 2:
    // libjpeg warns about both and decodes the same picture.
    std::vector<uint8_t> junk = file, revision = file;
    junk.insert(junk.begin() + markerAt(junk, 0xDB), {0x12, 0x34});
    revision[11] = 2; // FF D8, FF E0, length, "JFIF\0", major version
    for (const std::vector<uint8_t>* variant : {&file, &junk, &revision}) {
        DecodedImage image;
        std::string error;
        ASSERT_TRUE(decode(image, *variant, "t.jpg", error)) << error;
        EXPECT_TRUE(image.width == 17 && image.height == 11 && image.channels == 3 &&
                    image.components == 3);
        for (size_t i = 0; i < picture.pixels.size(); ++i)
            ASSERT_NEAR(image.pixels[i], picture.pixels[i], 6) << "byte " << i;
    }
}

// Every refusal class of the two decoders: the file, its name and the message's start.
TEST(ImageDecoding, RefusalsNameTheFileThePartAndWhatIsWrong) {
    const auto tga = [](int width, int height, size_t offset, uint8_t value) {
        std::vector<uint8_t> file = tgaFile(testPicture(width, height, 3), false);
        file[offset] = value;
        return file;
    };
    const std::vector<uint8_t> plain = tgaFile(testPicture(5, 4, 3), false);
    const std::vector<uint8_t> flat = tgaFile({300, 1, 3, std::vector<uint8_t>(900, 77)});
    const std::vector<uint8_t> colour = jpegFile(smoothPicture(64, 64));
    std::vector<uint8_t> huge = colour;
    // The frame header's height and width (after FF C0, length, precision) set to 20000.
    const size_t frame = size_t(markerAt(huge, 0xC0));
    huge[frame + 5] = huge[frame + 7] = uint8_t(20000 >> 8);
    huge[frame + 6] = huge[frame + 8] = uint8_t(20000 & 0xFF);
    // Greyscale: one component in the frame header (after its 6 bytes) and the scan header.
    std::vector<uint8_t> grey = colour;
    grey[frame + 3] -= 6, grey[frame + 9] = 1;
    grey.erase(grey.begin() + long(frame) + 13, grey.begin() + long(frame) + 19);
    const long scan = markerAt(grey, 0xDA);
    grey[size_t(scan) + 3] -= 4, grey[size_t(scan) + 4] = 1;
    grey.erase(grey.begin() + scan + 7, grey.begin() + scan + 11);
    const std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13};

    const struct {
        std::vector<uint8_t> file;
        const char* name;
        const char* message; // after "<name>: "
        uint64_t availableBytes = unlimitedMemory;
    } cases[] = {
        {tga(2, 2, 16, 16), "t.tga", "TGA header: 16 bits per pixel (only 24 and 32 are read)"},
        {tga(2, 2, 2, 3), "t.tga",
         "TGA header: image type 3 (only true colour, types 2 and 10, is read)"},
        {tga(2, 2, 1, 1), "t.tga", "TGA header: the file has a colour map"},
        {std::vector<uint8_t>(plain.begin(), plain.begin() + 17), "t.tga",
         "TGA header: the file has 17 bytes, fewer than a header"},
        {{0}, "t.tga", "TGA header: the file has 1 byte, fewer than a header"},
        {tga(1, 1, 13, 0x40), "t.tga", // width 0x4001
         "TGA header: the image is 16385 by 1 pixels, more than 16384 on a side"},
        {std::vector<uint8_t>(plain.begin(), plain.end() - 1), "t.tga",
         "TGA image data: the file ends at pixel 19 of 20"},
        // Packets of 128, 128 and 44 pixels, the last one cut.
        {std::vector<uint8_t>(flat.begin(), flat.end() - 1), "t.tga",
         "TGA image data: the file ends at pixel 256 of 300"},
        {plain, "t.tga",
         "TGA header: the image is 5 by 4 pixels and needs 120 bytes to decode; 119 bytes are "
         "available",
         119},
        {colour, "j.tga", "TGA header: the file looks like a JPEG image, not a TGA"},
        {png, "p.tga", "TGA header: the file looks like a PNG image, not a TGA"},
        {png, "p.jpg", "JPEG data: the file looks like a PNG image, not a JPEG"},
        {plain, "t.jpg", "JPEG data: the file looks like a TGA image, not a JPEG"},
        {grey, "g.jpg",
         "JPEG header: 1 colour component (only 3-component colour images are read)"},
        // A cut file is refused (libjpeg's own words follow), not shown half grey.
        {std::vector<uint8_t>(colour.begin(), colour.begin() + long(colour.size() / 2)), "c.jpg",
         "JPEG data: "},
        {{0xFF, 0xD8, 0xFF, 0x00, 1, 2, 3, 4}, "c.jpg", "JPEG data: "},
        {{}, "c.jpg", "JPEG data: "},
        {huge, "big.jpg",
         "JPEG header: the image is 20000 by 20000 pixels, more than 16384 on a side"},
        {colour, "c.jpg",
         "JPEG header: the image is 64 by 64 pixels and needs 12.3 KB to decode; 10.0 KB are "
         "available",
         10000},
    };
    for (const auto& c : cases) {
        DecodedImage image;
        std::string error;
        expectRefusal(decode(image, c.file, c.name, error, c.availableBytes), error,
                      std::string(c.name) + ": " + c.message);
        EXPECT_EQ(image.pixels, nullptr);
    }
}

TEST(ImageFiles, FormatIsChosenBySubstringOfTheName) {
    for (const char* name : {"data/white_skin.tga", "skin.tga.bak", "skin.jpg.tga"})
        EXPECT_EQ(imageFormatOf(name), ImageFormat::tga) << name;
    for (const char* name : {"skin.jpeg", "a.jpg/b"})
        EXPECT_EQ(imageFormatOf(name), ImageFormat::jpeg) << name;
    for (const char* name : {"skin.JPG", "skin.TGA"})
        EXPECT_EQ(imageFormatOf(name), ImageFormat::none) << name;
}

using TextureUpload = OffscreenGLTest;

// Refused files take no texture name and leave the outputs. Uploads read back as decoded
// (JPEG within its loss): one pixel wide, rows of 3 bytes that a 4-byte unpack alignment
// would shear (sizes that are not powers of two are scaled by the mip-map builder, so they
// cannot be compared); a 32-bit image, uploaded as RGBA though its alpha is constant; a
// JPEG chosen by ".jpeg" in the name.
TEST_F(TextureUpload, RefusedFilesMakeNoTextureAndImagesUploadExactly) {
    TempDir dir;
    const std::string broken = dir.write("c.jpg", std::string("\xFF\xD8\xFF\xE0 broken"));
    const std::string upper = dir.write("p.JPG", jpegFile(smoothPicture(8, 8)));
    const std::pair<std::string, std::string> refusals[] = {
        {broken, broken + ": JPEG data: "},
        {upper, upper + ": the name has neither \".tga\" nor \".jpg\" or \".jpeg\" in it"}};
    for (const auto& [file, message] : refusals) {
        int w = 7, h = 8, components = 9;
        std::string error;
        expectRefusal(loadTexture(w, h, components, file.c_str(), &error) != noTexture, error,
                      message);
        EXPECT_TRUE(w == 7 && h == 8 && components == 9);
        EXPECT_EQ(loadTexture(w, h, components, file.c_str()), noTexture);
    }
    GLuint next = 0;
    glGenTextures(1, &next);
    EXPECT_EQ(next, 1u);

    Picture rgba = testPicture(2, 2, 4);
    for (size_t i = 3; i < rgba.pixels.size(); i += 4)
        rgba.pixels[i] = 128;
    const std::pair<std::string, Picture> uploads[] = {
        {dir.write("odd.tga", tgaFile(testPicture(1, 4, 3))), testPicture(1, 4, 3)},
        {dir.write("a.tga", tgaFile(rgba)), rgba},
        {dir.write("s.jpeg", jpegFile(smoothPicture(8, 8))), smoothPicture(8, 8)}};
    for (const auto& [file, picture] : uploads) {
        int w = 0, h = 0, components = 0;
        const uint32_t name = loadTexture(w, h, components, file.c_str());
        GLint bound = -1;
        glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
        EXPECT_TRUE(name != noTexture && bound == GLint(name)) << file;
        EXPECT_TRUE(w == picture.width && h == picture.height && components == 3);
        std::vector<uint8_t> pixels(picture.pixels.size());
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glGetTexImage(GL_TEXTURE_2D, 0, picture.channels == 4 ? GL_RGBA : GL_RGB, GL_UNSIGNED_BYTE,
                      pixels.data());
        for (size_t i = 0; i < pixels.size(); ++i)
            ASSERT_NEAR(pixels[i], picture.pixels[i], 6) << file << " byte " << i;
    }
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

} // namespace
