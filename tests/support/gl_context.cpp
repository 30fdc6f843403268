#include "tests/support/gl_context.h"

#include "app/wire_cube.h"

void OffscreenGLTest::SetUp() {
    context = OSMesaCreateContextExt(OSMESA_RGBA, 24, 0, 0, nullptr);
    ASSERT_NE(context, nullptr) << "OSMesa context could not be created";
    buffer.assign(static_cast<size_t>(width) * height * 4, 0);
    ASSERT_TRUE(OSMesaMakeCurrent(context, buffer.data(), GL_UNSIGNED_BYTE, width, height));
    // Rows top first, as window pixels are numbered.
    OSMesaPixelStore(OSMESA_Y_UP, 0);
    glViewport(0, 0, width, height);
    // Display lists belong to a context: a fresh context starts with an empty cache.
    shapeListCache() = ShapeListCache{};
}

void OffscreenGLTest::TearDown() {
    if (context)
        OSMesaDestroyContext(context);
    context = nullptr;
}

Rgb OffscreenGLTest::pixel(int x, int y) {
    const uint8_t* p = &buffer[(static_cast<size_t>(y) * width + x) * 4];
    return {p[0], p[1], p[2]};
}

bool OffscreenGLTest::isEnabled(GLenum capability) {
    GLboolean on = GL_FALSE;
    glGetBooleanv(capability, &on);
    return on == GL_TRUE;
}
