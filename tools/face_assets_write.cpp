// Data file writers (see face_assets_write.h).
#include "tools/face_assets_write.h"

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

void appendLittleEndian16(std::string& out, int value) {
    out += static_cast<char>(value & 0xff);
    out += static_cast<char>((value >> 8) & 0xff);
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
    // 18-byte header: no image id, no colour map, true-colour image (type 2, or 10 when
    // run-length encoded), origin (0, 0), size, bits per pixel, and a descriptor giving
    // the alpha bits with the origin at the bottom left.
    std::string out;
    out += '\0'; // id length
    out += '\0'; // colour map type
    out += static_cast<char>(runLength ? 10 : 2);
    out.append(5, '\0');          // colour map description
    appendLittleEndian16(out, 0); // x origin
    appendLittleEndian16(out, 0); // y origin
    appendLittleEndian16(out, image.width);
    appendLittleEndian16(out, image.height);
    out += static_cast<char>(image.channels * 8);
    out += static_cast<char>(image.channels == 4 ? 8 : 0);

    // Pixels as B, G, R (, A), bottom row first. Run-length packets never cross a row:
    // a run of 2 to 128 equal pixels becomes one repeated pixel, everything else goes
    // into raw packets of up to 128 pixels.
    const int n = image.channels;
    auto appendPixel = [&](const uint8_t* p) {
        out += static_cast<char>(p[2]);
        out += static_cast<char>(p[1]);
        out += static_cast<char>(p[0]);
        if (n == 4)
            out += static_cast<char>(p[3]);
    };
    for (int y = image.height - 1; y >= 0; --y) {
        const uint8_t* row = &image.pixels[static_cast<size_t>(y) * image.width * n];
        auto same = [&](int a, int b) { return std::memcmp(row + a * n, row + b * n, n) == 0; };
        if (!runLength) {
            for (int x = 0; x < image.width; ++x)
                appendPixel(row + x * n);
            continue;
        }
        int x = 0;
        while (x < image.width) {
            int run = 1;
            while (x + run < image.width && run < 128 && same(x, x + run))
                ++run;
            if (run >= 2) {
                out += static_cast<char>(0x80 | (run - 1));
                appendPixel(row + x * n);
                x += run;
                continue;
            }
            // Raw packet: up to the next pair of equal pixels.
            int count = 1;
            while (x + count < image.width && count < 128 &&
                   !(x + count + 1 < image.width && same(x + count, x + count + 1)))
                ++count;
            out += static_cast<char>(count - 1);
            for (int k = 0; k < count; ++k)
                appendPixel(row + (x + k) * n);
            x += count;
        }
    }
    return writeFile(path, out.data(), out.size());
}
