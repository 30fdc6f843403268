#include "app/dragger.h"

#include "draw/point_overlay.h"

#include <GL/gl.h>
#include <cassert>
#include <cmath>

int32_t ControlPointDragger::pick(const Camera& camera, float x, float y, float radius,
                                  const uint8_t* pickable) const {
    if (count == 0)
        return -1;
    int32_t best = -1;
    float limit = radius;
    for (uint32_t i = 0; i < count; ++i) {
        if (pickable && !pickable[i])
            continue;
        const Vector3& p = points[i];
        const Vector4 o = camera.project({p.x, p.y, p.z, 1.0f});
        const float dy = o.y - y, dx = o.x - x;
        const float d = std::sqrt(dy * dy + dx * dx);
        if (d < limit) { // a NaN distance never qualifies
            best = static_cast<int32_t>(i);
            limit = d;
        }
    }
    return best;
}

void ControlPointDragger::drag(const Camera& camera, int32_t index, float x, float y) {
    assert(index >= 0 && static_cast<uint32_t>(index) < count);
    Vector3& p = points[index];
    const Vector4 o = camera.project({p.x, p.y, p.z, 1.0f});
    const Vector4 t = camera.unproject({x, y, o.z, 1.0f});
    p = {t.x, t.y, t.z};
}

void ControlPointDragger::drawPoints(const Camera& /*camera*/) const {
    const PointOverlayState saved = beginPointOverlay(controlPointDotSize);
    glColor3f(1.0f, 0.0f, 0.0f);
    glBegin(GL_POINTS);
    for (uint32_t i = 0; i < count; ++i)
        glVertex3fv(&points[i].x);
    glEnd();
    endPointOverlay(saved);
}
