// Disjoint sets over the items 0 .. n − 1 (union-find with path halving): the connected
// parts of the control mesh for the rules' check, and of the render vertices the surface
// leaves behind.
#pragma once

#include <cstdint>
#include <numeric>
#include <vector>

struct DisjointSets {
    std::vector<int32_t> parent;
    explicit DisjointSets(int32_t n) : parent(static_cast<size_t>(n)) {
        std::iota(parent.begin(), parent.end(), 0);
    }
    int32_t find(int32_t i) {
        while (parent[size_t(i)] != i)
            i = parent[size_t(i)] = parent[size_t(parent[size_t(i)])];
        return i;
    }
    void join(int32_t a, int32_t b) { parent[size_t(find(a))] = find(b); }
};
