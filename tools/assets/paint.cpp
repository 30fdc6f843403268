// Texture painters (see paint.h).
#include "tools/assets/paint.h"

#include "tools/assets/shape.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace {

constexpr double pi = 3.14159265358979323846;

struct Colour {
    double r, g, b;
};
Colour mix(const Colour& a, const Colour& b, double t) {
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}
Colour scale(const Colour& a, double s) { return {a.r * s, a.g * s, a.b * s}; }

double clamp01(double t) { return std::min(1.0, std::max(0.0, t)); }
double smoothstep(double edge0, double edge1, double t) {
    const double s = clamp01((t - edge0) / (edge1 - edge0));
    return s * s * (3.0 - 2.0 * s);
}
double gaussian(double t, double sigma) { return std::exp(-0.5 * (t / sigma) * (t / sigma)); }
double bumpPair(double X, double Y, double cx, double cy, double sx, double sy) {
    return (gaussian(X - cx, sx) + gaussian(X + cx, sx)) * gaussian(Y - cy, sy);
}

// Deterministic value noise: pseudo-random values at integer lattice points (an integer
// hash), smoothly interpolated in between; result in [0, 1).
double latticeValue(int x, int y, uint32_t seed) {
    uint32_t h = static_cast<uint32_t>(x) * 0x8da6b343u ^ static_cast<uint32_t>(y) * 0xd8163841u ^
                 seed * 0xcb1ab31fu;
    h ^= h >> 13;
    h *= 0x5bd1e995u;
    h ^= h >> 15;
    return (h & 0xffffffu) / 16777216.0;
}
double valueNoise(double x, double y, uint32_t seed) {
    const double fx = std::floor(x), fy = std::floor(y);
    const int ix = static_cast<int>(fx), iy = static_cast<int>(fy);
    const double tx = smoothstep(0.0, 1.0, x - fx), ty = smoothstep(0.0, 1.0, y - fy);
    const double top = latticeValue(ix, iy, seed) +
                       (latticeValue(ix + 1, iy, seed) - latticeValue(ix, iy, seed)) * tx;
    const double bottom =
        latticeValue(ix, iy + 1, seed) +
        (latticeValue(ix + 1, iy + 1, seed) - latticeValue(ix, iy + 1, seed)) * tx;
    return top + (bottom - top) * ty;
}

uint8_t toByte(double t) { return static_cast<uint8_t>(std::lround(clamp01(t) * 255.0)); }

void setPixel(DecodedImage& image, int x, int y, const Colour& c, double alpha = 1.0) {
    uint8_t* p = &image.pixels[(static_cast<size_t>(y) * image.width + x) * image.channels];
    p[0] = toByte(c.r);
    p[1] = toByte(c.g);
    p[2] = toByte(c.b);
    if (image.channels == 4)
        p[3] = toByte(alpha);
}

// ---- Skin layers, each given the face-domain point (X, Y) ----------------------------

const Colour skinTone{0.96, 0.79, 0.67};
const Colour rose{0.93, 0.56, 0.52};
const Colour browHair{0.27, 0.18, 0.12};
const Colour headHair{0.24, 0.15, 0.09};
const Colour lipRed{0.78, 0.36, 0.37};
const Colour lipLine{0.45, 0.16, 0.18};
const Colour lashes{0.12, 0.08, 0.07};

// Skin tone with gentle, low-frequency variation in brightness and redness.
Colour skinBase(double X, double Y) {
    const double blotch = valueNoise(X * 0.7, Y * 0.7, 1) - 0.5;
    const double mottle = valueNoise(X * 2.2, Y * 2.2, 2) - 0.5;
    const double redness = valueNoise(X * 1.1 + 17.0, Y * 1.1, 3) - 0.5;
    const Colour c = scale(skinTone, 1.0 + 0.07 * blotch + 0.03 * mottle);
    return {c.r, c.g * (1.0 - 0.04 * redness), c.b * (1.0 - 0.05 * redness)};
}

// Cheeks, nose tip and chin slightly rosy.
double rosiness(double X, double Y) {
    return 0.42 * bumpPair(X, Y, 3.7, -1.3, 1.1, 0.9) +
           0.18 * gaussian(X, 0.55) * gaussian(Y + 1.5, 0.45) +
           0.12 * gaussian(X, 1.2) * gaussian(Y + 7.2, 0.7);
}

// Eyebrows: a band over each eye, thick at the inner end and tapering outwards, with hair
// strands slanting up and out.
double eyebrow(double X, double Y) {
    const double x = std::fabs(X);
    const double t = clamp01((x - 1.55) / 3.5); // 0 at the inner end, 1 at the tail
    const double centreY =
        3.02 + 0.3 * std::sin(pi * std::min(1.0, t * 1.25)) * (1.0 - 0.4 * t) - 0.15 * t * t;
    const double halfWidth = 0.2 * (1.0 - t) + 0.07;
    const double band = smoothstep(halfWidth + 0.06, halfWidth - 0.04, std::fabs(Y - centreY)) *
                        smoothstep(1.4, 1.65, x) * smoothstep(5.2, 4.85, x);
    // Strands: noise stretched along the hair direction, which rises steeply at the inner
    // end and lies flat towards the tail.
    const double angle = 1.1 - 0.9 * t;
    const double along = x * std::cos(angle) + Y * std::sin(angle);
    const double across = -x * std::sin(angle) + Y * std::cos(angle);
    const double strand = valueNoise(across * 30.0, along * 2.5, 4);
    return band * (0.6 + 0.4 * strand);
}

// Hair above the forehead and at the temples.
double hair(double X, double Y) {
    const double x = std::fabs(X);
    // Lowest in the middle and over the temples' corners, receding a little between.
    const double hairline = 7.0 + 0.2 * x * x / (1.0 + x * x) + 0.35 * gaussian(x - 3.8, 1.0) -
                            3.4 * smoothstep(6.0, 9.8, x);
    const double cover =
        smoothstep(hairline - 0.08, hairline + 0.3, Y + 0.15 * valueNoise(X * 4.0, 0.0, 8));
    const double strand = valueNoise(X * 9.0, Y * 1.2, 5);
    return cover * (0.8 + 0.2 * strand);
}

// Upper lash line along the upper lid's rim, a fainter one along the lower rim, and a
// soft shadow in the upper lid's crease.
double eyeDarkening(double X, double Y, double& lashLine) {
    const double d = eyeOpeningDistance(X, Y);
    lashLine = 0.0;
    if (d > 1.0)
        return 0.0;
    const double ax = std::fabs(X);
    const double upperLid = smoothstep(-0.08, 0.08, Y - eyeSlitY); // 1 above the corners
    const double outerBias = clamp01((ax - eyeInnerX) / (eyeOuterX - eyeInnerX)); // thicker outside
    lashLine = upperLid * smoothstep(0.07 + 0.05 * outerBias, 0.02, d) +
               (1.0 - upperLid) * 0.5 * smoothstep(0.04, 0.0, d);
    const double crease = upperLid * 0.2 * gaussian(d - 0.5, 0.12);
    const double socket = 0.12 * smoothstep(0.9, 0.1, d);
    return crease + socket;
}

// Vermilion of both lips (a soft edge along their borders), darker along the lip line.
double lipColour(double X, double Y, double& lineDarkness) {
    lineDarkness = 0.0;
    const double ax = std::fabs(X);
    if (ax > mouthCornerX + 0.1)
        return 0.0;
    const double dy = Y - mouthY;
    const double height = dy >= 0.0 ? upperLipHeight(X) : lowerLipHeight(X);
    const double inside = smoothstep(height + 0.035, height - 0.035, std::fabs(dy));
    lineDarkness = smoothstep(0.09, 0.0, std::fabs(dy)) *
                   smoothstep(mouthCornerX + 0.1, mouthCornerX - 0.2, ax);
    return inside;
}

Colour skinColour(double X, double Y) {
    Colour c = skinBase(X, Y);
    c = mix(c, rose, rosiness(X, Y));
    double lashLine;
    const double eyeShade = eyeDarkening(X, Y, lashLine);
    c = mix(c, Colour{0.62, 0.45, 0.45}, eyeShade);
    c = mix(c, browHair, 0.85 * eyebrow(X, Y));
    c = mix(c, headHair, hair(X, Y));
    double lineDarkness;
    const double lip = lipColour(X, Y, lineDarkness);
    c = mix(c, lipRed, 0.9 * lip);
    c = mix(c, lipLine, 0.8 * lineDarkness);
    // Nostrils and the corners of the mouth.
    c = mix(c, Colour{0.3, 0.14, 0.12}, 0.9 * bumpPair(X, Y, 0.48, -2.33, 0.2, 0.09));
    c = mix(c, Colour{0.55, 0.35, 0.32},
            0.35 * bumpPair(X, Y, mouthCornerX + 0.05, mouthY, 0.15, 0.12));
    c = mix(c, lashes, lashLine);
    return c;
}

} // namespace

void paintSkin(DecodedImage& image) {
    allocateImage(image, 1024, 1024, 3);
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x) {
            double X, Y;
            texCoordDomain((x + 0.5) / image.width, (y + 0.5) / image.height, X, Y);
            setPixel(image, x, y, skinColour(X, Y));
        }
}

void paintEye(DecodedImage& image) {
    allocateImage(image, 256, 256, 3);
    // Angles from the front pole (radians) where the pupil, the iris and its dark rim end.
    constexpr double pupilEnd = 0.14, irisEnd = 0.39, rimWidth = 0.04;
    const Colour irisInner{0.45, 0.55, 0.5}, irisOuter{0.2, 0.36, 0.55};
    const Colour white{0.96, 0.94, 0.91}, backOfEye{0.93, 0.8, 0.78};
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x) {
            const double polar = pi * (y + 0.5) / image.height;
            const double around = 2.0 * pi * (x + 0.5) / image.width;
            Colour c;
            if (polar < irisEnd) {
                // Iris: fibres radiating from the pupil, a light ring near it, dark rim.
                const double t = (polar - pupilEnd) / (irisEnd - pupilEnd);
                const double fibres =
                    0.5 +
                    0.5 * std::sin(around * 41.0 + 5.0 * valueNoise(around * 6.0, t * 4.0, 6));
                c = scale(mix(irisInner, irisOuter, clamp01(t)), 0.8 + 0.35 * fibres);
                c = scale(c, 1.0 - 0.7 * smoothstep(irisEnd - rimWidth, irisEnd, polar));
                c = mix(Colour{0.02, 0.02, 0.03}, c,
                        smoothstep(pupilEnd - 0.015, pupilEnd + 0.015, polar));
            } else {
                const double vessels = valueNoise(around * 12.0, polar * 10.0, 7);
                c = mix(white, backOfEye,
                        smoothstep(0.9, 1.8, polar) + 0.15 * vessels * smoothstep(0.7, 1.4, polar));
                c = mix(Colour{0.25, 0.3, 0.4}, c,
                        smoothstep(irisEnd - 0.01, irisEnd + 0.03, polar));
            }
            // A reflection of the light up and to the left of the pupil.
            const double dx = polar * std::cos(around) + 0.13, dy = polar * std::sin(around) - 0.13;
            c = mix(c, Colour{1.0, 1.0, 1.0}, 0.9 * smoothstep(0.06, 0.035, std::hypot(dx, dy)));
            setPixel(image, x, y, c);
        }
}

void paintTeeth(DecodedImage& image, bool upper) {
    allocateImage(image, 256, 64, 4);
    // Teeth from the middle outwards (relative widths): central and lateral incisors,
    // canine, two premolars; mirrored for the other half.
    constexpr int perSide = 5;
    const double widths[perSide] = {0.85, 0.68, 0.75, 0.65, 0.62};
    const double lengths[perSide] = {1.0, 0.9, 0.95, 0.8, 0.75}; // of the tallest tooth
    double total = 0.0;
    for (double w : widths)
        total += w;
    const Colour enamel{0.97, 0.95, 0.88}, gum{0.86, 0.5, 0.52};
    constexpr double gumDepth = 0.22; // share of the strip covered by gums
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x) {
            // Distance from the gums (0) towards the tips (1), and position along the arch.
            const double v = (y + 0.5) / image.height;
            const double fromGum = upper ? v : 1.0 - v;
            const double u = (x + 0.5) / image.width;
            const double side = std::fabs(u - 0.5) * 2.0 * total; // 0 in the middle
            int tooth = 0;
            double start = 0.0;
            while (tooth < perSide - 1 && side > start + widths[tooth]) {
                start += widths[tooth];
                ++tooth;
            }
            const double w = widths[tooth];
            const double across = std::fabs((side - start) / w - 0.5) * 2.0; // 0 middle, 1 edges
            // Tooth outline: straight sides with a small gap, rounded corners at the tip;
            // the canine comes to a point.
            const double tipLength = gumDepth + (1.0 - gumDepth - 0.03) * lengths[tooth];
            const double point =
                tooth == 2 ? 0.12 * across : 0.06 * across * across * across * across;
            const double toTip = tipLength - point - fromGum;
            const double edgeSoftness = 0.06;
            const double inSide = smoothstep(1.0, 1.0 - edgeSoftness * 3.0, across);
            const double inLength = smoothstep(0.0, 0.03, toTip);
            double alpha = inSide * inLength;
            // Gums: a scalloped band arching over each tooth.
            const double gumLine = gumDepth - 0.07 * (1.0 - across * across);
            const double gumCover = smoothstep(gumLine + 0.02, gumLine - 0.02, fromGum);
            alpha = std::max(alpha, gumCover);
            const double shade = 0.85 + 0.15 * smoothstep(0.0, 0.5, toTip) - 0.12 * across * across;
            Colour c = mix(scale(enamel, shade), gum, gumCover);
            setPixel(image, x, y, c, alpha);
        }
}
