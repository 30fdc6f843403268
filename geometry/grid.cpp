#include "geometry/grid.h"

#include <cassert>

void gridTriangles(Triangle* out, int32_t base, int32_t n) {
    assert(n >= 1);
    int32_t rowStart = base; // s_r
    for (int32_t r = 0; r < n; ++r) {
        const int32_t nextStart = rowStart + (n + 1 - r); // s_(r+1)
        for (int32_t k = 0; k < n - r; ++k) {
            *out++ = {{rowStart + k, rowStart + k + 1, nextStart + k}};
            if (k != n - r - 1)
                *out++ = {{rowStart + k + 1, nextStart + k + 1, nextStart + k}};
        }
        rowStart = nextStart;
    }
}
