// Offscreen OpenGL (OSMesa) for tests of drawing code: a fixture that makes a fresh
// RGBA context with a depth buffer current for each test and reads pixels back.
#pragma once

#include "app/wire_cube.h"

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

    void SetUp() override {
        context = OSMesaCreateContextExt(OSMESA_RGBA, 24, 0, 0, nullptr);
        ASSERT_NE(context, nullptr) << "OSMesa context could not be created";
        buffer.assign(static_cast<size_t>(width) * height * 4, 0);
        ASSERT_TRUE(OSMesaMakeCurrent(context, buffer.data(), GL_UNSIGNED_BYTE, width, height));
        OSMesaPixelStore(OSMESA_Y_UP, 0); // rows top first, as window pixels are numbered
        glViewport(0, 0, width, height);
        // Display lists belong to a context: a fresh context starts with an empty cache.
        shapeListCache() = ShapeListCache{};
    }
    void TearDown() override {
        if (context)
            OSMesaDestroyContext(context);
    }

    // Colour of window pixel (x, y), y counted from the top as GLUT reports it.
    Rgb pixel(int x, int y) {
        const uint8_t* p = &buffer[(static_cast<size_t>(y) * width + x) * 4];
        return {p[0], p[1], p[2]};
    }
    // Number of pixels for which the predicate holds.
    template <class Predicate> int countPixels(Predicate predicate) {
        glFinish();
        int count = 0;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                count += predicate(pixel(x, y)) ? 1 : 0;
        return count;
    }
    bool isEnabled(GLenum capability) {
        GLboolean on = GL_FALSE;
        glGetBooleanv(capability, &on);
        return on == GL_TRUE;
    }

    OSMesaContext context = nullptr;
    std::vector<uint8_t> buffer;
};
