// Data file writers (see write.h).
#include "tools/assets/write.h"

#include <stb_image_write.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

// Appends x with four decimals; a value that prints as zero is written "0.0000" (never
// "-0.0000").
void appendReal(std::string& out, double x) {
    char text[32];
    std::snprintf(text, sizeof text, "%.4f", x);
    out += std::strcmp(text, "-0.0000") == 0 ? "0.0000" : text;
}

void appendLine(std::string& out, double a, double b) {
    appendReal(out, a);
    out += ' ';
    appendReal(out, b);
    out += '\n';
}

void appendLine(std::string& out, const Point3& p) {
    appendReal(out, p.x);
    out += ' ';
    appendReal(out, p.y);
    out += ' ';
    appendReal(out, p.z);
    out += '\n';
}

void appendCount(std::string& out, size_t count) { out += std::to_string(count) + '\n'; }

void appendTriangle(std::string& out, int a, int b, int c) {
    out += std::to_string(a) + ' ' + std::to_string(b) + ' ' + std::to_string(c) + '\n';
}

// Render and prop triangles: the reader swaps the last two corners back.
void appendSwappedTriangles(std::string& out, const std::vector<Triangle>& triangles) {
    appendCount(out, triangles.size());
    for (const Triangle& t : triangles)
        appendTriangle(out, t.index[0], t.index[2], t.index[1]);
}

bool writeFile(const char* path, const void* data, size_t size) {
    FILE* file = std::fopen(path, "wb");
    if (file == nullptr) {
        std::fprintf(stderr, "face-assets: cannot create %s\n", path);
        return false;
    }
    const bool written = std::fwrite(data, 1, size, file) == size;
    const bool closed = std::fclose(file) == 0;
    if (!written || !closed) {
        std::fprintf(stderr, "face-assets: cannot write %s\n", path);
        return false;
    }
    return true;
}

} // namespace

bool writeModelFile(const char* path, const FaceMesh& render, const FaceMesh& control) {
    std::string out;
    appendCount(out, render.positions.size());
    for (const Point3& p : render.positions)
        appendLine(out, p);
    for (const DomainPoint& d : render.domain) {
        double u, v;
        domainTexCoord(d.X, d.Y, u, v);
        appendLine(out, u, v);
    }
    appendSwappedTriangles(out, render.triangles);
    appendCount(out, control.positions.size());
    for (const Point3& p : control.positions)
        appendLine(out, p);
    appendCount(out, control.triangles.size());
    for (const Triangle& t : control.triangles)
        appendTriangle(out, t.index[0], t.index[1], t.index[2]);
    return writeFile(path, out.data(), out.size());
}

bool writePropFile(const char* path, const PropMesh& prop) {
    std::string out;
    appendCount(out, prop.positions.size());
    for (const Point3& p : prop.positions)
        appendLine(out, p);
    for (const PropUV& t : prop.texCoords)
        appendLine(out, t.u, t.v);
    appendSwappedTriangles(out, prop.triangles);
    return writeFile(path, out.data(), out.size());
}

bool writeTgaFile(const char* path, const Image& image, bool runLength) {
    // stb writes the format's default layout: the 18-byte header with the alpha bits in
    // the descriptor and the origin at the bottom left, then the rows bottom first, with
    // run-length packets that never cross a row when asked for.
    stbi_write_tga_with_rle = runLength ? 1 : 0;
    if (stbi_write_tga(path, image.width, image.height, image.channels, image.pixels.data()) == 0) {
        std::fprintf(stderr, "face-assets: cannot write %s\n", path);
        return false;
    }
    return true;
}
