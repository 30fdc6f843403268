// Eyeballs and teeth (see props.h).
#include "tools/assets/props.h"

#include <cmath>

namespace {

constexpr double pi = 3.14159265358979323846;

// Sphere resolution: slices around the view axis, stacks from front to back.
constexpr int eyeSlices = 32;
constexpr int eyeStacks = 20;

// Teeth strip resolution: cells along the arch and from gums to tips.
constexpr int teethColumns = 40;
constexpr int teethRows = 4;

// Grid triangles of a (rows + 1) × (columns + 1) vertex block numbered row by row from
// base, rows running downwards and columns to the right as seen from outside; each cell
// gives two triangles, counter-clockwise from outside.
void gridCells(std::vector<Triangle>& triangles, int base, int rows, int columns) {
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < columns; ++c) {
            const int a = base + r * (columns + 1) + c, b = a + 1;
            const int below = a + columns + 1, belowRight = below + 1;
            triangles.push_back({{a, below, belowRight}});
            triangles.push_back({{a, belowRight, b}});
        }
}

// Distance the teeth keep from the inside of the face, measured from the head's axis.
constexpr double insideMargin = 0.2;

// The point moved towards the head's vertical axis, if needed, until it lies at least
// margin inside the face surface on the same horizontal ray from the axis (so that the
// face hides it from every side, not only from the front).
Point3 keepInside(const Point3& p, double margin) {
    const double dx = p.x, dz = p.z - headAxisZ;
    const double radius = std::sqrt(dx * dx + dz * dz);
    const Point3 surface = facePoint(std::atan2(dx, dz) * headRadius, p.y);
    const double sx = surface.x, sz = surface.z - headAxisZ;
    const double limit = std::sqrt(sx * sx + sz * sz) - margin;
    if (radius <= limit)
        return p;
    return {dx * limit / radius, p.y, headAxisZ + dz * limit / radius};
}

} // namespace

void buildEyeball(PropMesh& eye, int sign) {
    eye = PropMesh();
    const Point3 centre = eyeballCentre(sign);
    const double r = eyeballRadius;
    // Front pole: one copy per slice, so that every slice has its own u.
    for (int i = 0; i < eyeSlices; ++i) {
        eye.positions.push_back(centre + Point3{0.0, 0.0, r});
        eye.texCoords.push_back({(i + 0.5) / eyeSlices, 0.0});
    }
    // Rings of latitude, each closed by a repeated first vertex at u = 1.
    const int firstRing = eyeSlices;
    for (int k = 1; k < eyeStacks; ++k) {
        const double polar = pi * k / eyeStacks;
        for (int i = 0; i <= eyeSlices; ++i) {
            const double around = 2.0 * pi * i / eyeSlices;
            eye.positions.push_back(centre + Point3{r * std::sin(polar) * std::cos(around),
                                                    r * std::sin(polar) * std::sin(around),
                                                    r * std::cos(polar)});
            eye.texCoords.push_back(
                {static_cast<double>(i) / eyeSlices, static_cast<double>(k) / eyeStacks});
        }
    }
    const int backPole = static_cast<int>(eye.positions.size());
    for (int i = 0; i < eyeSlices; ++i) {
        eye.positions.push_back(centre + Point3{0.0, 0.0, -r});
        eye.texCoords.push_back({(i + 0.5) / eyeSlices, 1.0});
    }
    // Going down a meridian (towards the back) and then to the next slice turns
    // counter-clockwise seen from outside, as in a grid whose rows run downwards.
    for (int i = 0; i < eyeSlices; ++i)
        eye.triangles.push_back({{i, firstRing + i, firstRing + i + 1}});
    gridCells(eye.triangles, firstRing, eyeStacks - 2, eyeSlices);
    const int lastRing = firstRing + (eyeStacks - 2) * (eyeSlices + 1);
    for (int i = 0; i < eyeSlices; ++i)
        eye.triangles.push_back({{lastRing + i, backPole + i, lastRing + i + 1}});
}

void buildTeeth(PropMesh& teeth, bool upper) {
    teeth = PropMesh();
    // The arch: a parabola in the horizontal plane from corner to corner, its front
    // behind the middle of the lip line and its ends behind the mouth corners.
    const Point3 lipMiddle = facePoint(0.0, mouthY);
    const Point3 corner = facePoint(mouthCornerX, mouthY);
    const double setBack = upper ? 0.32 : 0.45; // the lower row closes behind the upper one
    const double front = lipMiddle.z - setBack;
    const double halfWidth = corner.x - (upper ? 0.1 : 0.2);
    const double depth = front - (corner.z - 0.45);
    // Upper row: gums above the lip line, tips below it, in front of the lower tips.
    // Lower row: its tips lean back, so that the row faces the viewer once the jaw has
    // swung open (its frame turns downwards about the mouth corners).
    const double top = upper ? mouthY + 0.95 : mouthY - 0.05;
    const double bottom = upper ? mouthY - 0.3 : mouthY - 0.85;
    const double topLean = upper ? 0.0 : -0.25; // depth of the strip's top edge behind its bottom
    for (int r = 0; r <= teethRows; ++r) {
        const double v = static_cast<double>(r) / teethRows;
        const double y = top + (bottom - top) * v;
        const double lean = topLean * (1.0 - v);
        for (int c = 0; c <= teethColumns; ++c) {
            const double s = 2.0 * c / teethColumns - 1.0; // −1 .. 1 across the arch
            teeth.positions.push_back(
                keepInside({halfWidth * s, y, front + lean - depth * s * s}, insideMargin));
            teeth.texCoords.push_back({static_cast<double>(c) / teethColumns, v});
        }
    }
    gridCells(teeth.triangles, 0, teethRows, teethColumns);
}
