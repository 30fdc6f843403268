// Offscreen OpenGL (OSMesa) for tests of drawing code: a fixture that makes a fresh
// RGBA context with a depth buffer current for each test and reads pixels back.
#pragma once

#include <GL/osmesa.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

struct Rgb {
    uint8_t r, g, b;
};

class OffscreenGLTest : public ::testing::Test {
  protected:
    static constexpr int width = 640;
    static constexpr int height = 640;

    void SetUp() override;
    void TearDown() override;

    // Colour of window pixel (x, y), y counted from the top as GLUT reports it.
    Rgb pixel(int x, int y);
    // Number of pixels for which the predicate holds.
    template <class Predicate> int countPixels(Predicate predicate) {
        glFinish();
        int count = 0;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                if (predicate(pixel(x, y)))
                    ++count;
        return count;
    }
    bool isEnabled(GLenum capability);

    OSMesaContext context = nullptr;
    std::vector<uint8_t> buffer;
};
