#include "app/wire_cube.h"

#include <GL/gl.h>
#include <cassert>
#include <new>
#include <utility>

ShapeListCache& shapeListCache() {
    static ShapeListCache cache;
    return cache;
}

uint32_t lookupShapeList(const ShapeListCache& cache, int32_t kind, const double* params,
                         int32_t count) {
    assert(kind >= 0 && kind < shapeKindCount);
    for (const ShapeListEntry* e = cache.heads[kind].get(); e; e = e->next.get()) {
        if (e->count != count)
            continue;
        int32_t i = 0;
        while (i < count && e->params[i] == params[i])
            ++i;
        if (i == count)
            return e->list;
    }
    return 0;
}

uint32_t insertShapeList(ShapeListCache& cache, int32_t kind, std::unique_ptr<double[]> params,
                         int32_t count) {
    assert(kind >= 0 && kind < shapeKindCount);
    std::unique_ptr<ShapeListEntry> entry(new (std::nothrow) ShapeListEntry);
    if (!entry)
        return 0;
    entry->list = glGenLists(1);
    entry->count = count;
    entry->params = std::move(params);
    entry->next = std::move(cache.heads[kind]);
    cache.heads[kind] = std::move(entry);
    return cache.heads[kind]->list;
}

void drawWireCube(double s) {
    std::unique_ptr<double[]> params(new (std::nothrow) double[1]);
    if (!params)
        return;
    params[0] = s;
    ShapeListCache& cache = shapeListCache();
    const uint32_t found = lookupShapeList(cache, shapeKindWireCube, params.get(), 1);
    if (found != 0) {
        glCallList(found);
        return;
    }
    const uint32_t list = insertShapeList(cache, shapeKindWireCube, std::move(params), 1);
    if (list != 0)
        glNewList(list, GL_COMPILE_AND_EXECUTE);
    drawBoxFaces(-s / 2, s / 2, -s / 2, s / 2, -s / 2, s / 2, GL_LINE_LOOP);
    if (list != 0)
        glEndList();
}

void drawBoxFaces(double x0, double x1, double y0, double y1, double z0, double z1,
                  uint32_t primitive) {
    if (x0 > x1)
        std::swap(x0, x1);
    if (y0 > y1)
        std::swap(y0, y1);
    if (z0 > z1)
        std::swap(z0, z1);
    const double corners[8][3] = {{x0, y0, z0}, {x0, y0, z1}, {x0, y1, z1}, {x0, y1, z0},
                                  {x1, y0, z0}, {x1, y0, z1}, {x1, y1, z1}, {x1, y1, z0}};
    static const double normals[6][3] = {{-1, 0, 0}, {0, 1, 0}, {1, 0, 0},
                                         {0, -1, 0}, {0, 0, 1}, {0, 0, -1}};
    static const int faces[6][4] = {{0, 1, 2, 3}, {3, 2, 6, 7}, {7, 6, 5, 4},
                                    {4, 5, 1, 0}, {5, 6, 2, 1}, {7, 4, 0, 3}};
    for (int f = 0; f < 6; ++f) {
        glBegin(primitive);
        for (int j = 0; j < 4; ++j) {
            glNormal3dv(normals[f]);
            glVertex3dv(corners[faces[f][j]]);
        }
        glEnd();
    }
}
