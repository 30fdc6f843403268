// The analytic face: base head plus named features (see shape.h).
#include "tools/assets/shape.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

double square(double t) { return t * t; }
double clamp01(double t) { return std::min(1.0, std::max(0.0, t)); }
double smoothstep(double edge0, double edge1, double t) {
    const double s = clamp01((t - edge0) / (edge1 - edge0));
    return s * s * (3.0 - 2.0 * s);
}
double gaussian(double t, double sigma) { return std::exp(-0.5 * square(t / sigma)); }

// A Gaussian bump centred at (cx, cy) with widths sx, sy.
double bump(double X, double Y, double cx, double cy, double sx, double sy) {
    return gaussian(X - cx, sx) * gaussian(Y - cy, sy);
}
// The same bump at (−cx, cy) and (cx, cy): one for each side of the face.
double bumpPair(double X, double Y, double cx, double cy, double sx, double sy) {
    return bump(X, Y, -cx, cy, sx, sy) + bump(X, Y, cx, cy, sx, sy);
}
// Smooth maximum of a and b, rounding the crease where they cross over a width k.
double smoothMax(double a, double b, double k) {
    const double h = clamp01(0.5 + 0.5 * (a - b) / k);
    return b + (a - b) * h + k * h * (1.0 - h);
}

// Catmull-Rom interpolation through keys[0..count−1] (increasing) with values[], held
// constant beyond the ends.
double profile(const double* keys, const double* values, int count, double t) {
    if (t <= keys[0])
        return values[0];
    if (t >= keys[count - 1])
        return values[count - 1];
    int i = 0;
    while (t > keys[i + 1])
        ++i;
    const double h = keys[i + 1] - keys[i];
    const double s = (t - keys[i]) / h;
    auto slope = [&](int k) {
        const int a = std::max(k - 1, 0), b = std::min(k + 1, count - 1);
        return (values[b] - values[a]) / (keys[b] - keys[a]);
    };
    const double m0 = slope(i) * h, m1 = slope(i + 1) * h;
    const double s2 = s * s, s3 = s2 * s;
    return (2 * s3 - 3 * s2 + 1) * values[i] + (s3 - 2 * s2 + s) * m0 +
           (-2 * s3 + 3 * s2) * values[i + 1] + (s3 - s2) * m1;
}

// ---- The base head -------------------------------------------------------------------

// Half-width (to the ear), half-depth (to the front) and squareness of the horizontal
// slice at height Y: a superellipse around the vertical axis, flattest at the face.
double headHalfWidth(double Y) {
    return 7.1 - 0.012 * square(std::max(Y - 2.5, 0.0)) - 0.03 * square(std::max(1.0 - Y, 0.0));
}
double headHalfDepth(double Y) {
    return 8.3 - 0.045 * square(std::max(Y - 2.0, 0.0)) - 0.02 * square(std::max(-1.0 - Y, 0.0));
}
constexpr double headSquareness = 2.6;

// Distance from the vertical axis to the base head at the given angle and height.
double baseRadius(double angle, double Y) {
    const double s = std::fabs(std::sin(angle)) / headHalfWidth(Y);
    const double c = std::fabs(std::cos(angle)) / headHalfDepth(Y);
    return std::pow(std::pow(s, headSquareness) + std::pow(c, headSquareness),
                    -1.0 / headSquareness);
}

Point3 axisPoint(double Y) { return {0.0, Y, headAxisZ}; }
Point3 radialDirection(double angle) { return {std::sin(angle), 0.0, std::cos(angle)}; }

// ---- Features: each returns how far it raises (or lowers) the surface radially -------

double foreheadAndTemples(double X, double Y) {
    return 0.18 * bumpPair(X, Y, 2.4, 6.0, 1.6, 1.5)    // frontal eminences
           - 0.35 * bumpPair(X, Y, 6.4, 3.4, 0.9, 1.4); // temple hollows
}

// Curve of the brows' ridge: highest a little outside the eye centres.
double browLineY(double X) { return 3.05 + 0.22 * gaussian(std::fabs(X) - 3.3, 1.4); }

double browRidge(double X, double Y) {
    const double along = std::exp(-std::pow(std::fabs(X) / 5.4, 6.0)); // fades at the temples
    const double glabella = 1.0 - 0.3 * gaussian(X, 0.7);              // slight dip between
    return 0.55 * along * glabella * gaussian(Y - browLineY(X), 0.5);
}

double eyeSockets(double X, double Y) { return -0.75 * bumpPair(X, Y, 3.15, 1.7, 1.25, 0.85); }

// Nose: a ridge along X = 0 whose height and width follow a profile table from the root
// between the eyes down to the tip and the nostrils' base (flat-topped across, with
// steep sides), plus the rounded tip, the wings and the nostrils.
double nose(double X, double Y) {
    static const double keys[] = {-2.75, -2.45, -2.05, -1.65, -1.25, -0.4, 0.6, 1.6, 2.6, 3.5};
    static const double height[] = {0.0, 0.5, 1.45, 2.05, 2.05, 1.6, 1.1, 0.65, 0.3, 0.0};
    static const double width[] = {0.75, 0.7, 0.62, 0.56, 0.5, 0.44, 0.38, 0.38, 0.5, 0.9};
    const int count = sizeof keys / sizeof keys[0];
    const double h = profile(keys, height, count, Y);
    const double w = profile(keys, width, count, Y);
    const double ridge = h * std::exp(-0.5 * std::pow(std::fabs(X) / w, 2.3));
    const double tip = 0.25 * bump(X, Y, 0.0, -1.5, 0.42, 0.38);
    const double wings = 0.62 * bumpPair(X, Y, 0.95, -1.95, 0.36, 0.36);
    const double nostrils = -0.3 * bumpPair(X, Y, 0.45, -2.3, 0.2, 0.12);
    return ridge + tip + wings + nostrils;
}

double cheeks(double X, double Y) {
    return 0.55 * bumpPair(X, Y, 4.4, -0.2, 1.3, 1.0)   // cheekbones
           + 0.3 * bumpPair(X, Y, 3.5, -2.9, 1.4, 1.3)  // fullness beside the mouth
           - 0.2 * bumpPair(X, Y, 5.3, -3.4, 1.0, 1.2); // hollow under the cheekbone
}

// Taper of the lips towards the mouth corners: 1 in the middle, 0 at the corners (C1).
double lipTaper(double X) {
    const double t = 1.0 - square(X / mouthCornerX);
    return t > 0.0 ? t * t : 0.0;
}

// The mouth region: the bulge over the teeth, the philtrum, the lips themselves and the
// dimples at the corners.
double mouth(double X, double Y) {
    const double muzzle = 0.85 * bump(X, Y, 0.0, -4.4, 1.9, 1.6);
    const double philtrumBand = smoothstep(-4.2, -3.7, Y) * (1.0 - smoothstep(-3.1, -2.5, Y));
    const double philtrum =
        philtrumBand *
        (0.025 * (gaussian(X - 0.38, 0.25) + gaussian(X + 0.38, 0.25)) - 0.03 * gaussian(X, 0.25));
    const double corners = -0.3 * bumpPair(X, Y, mouthCornerX, mouthY, 0.35, 0.35);
    return muzzle + philtrum + corners;
}

// The lips: each vermilion bulges forward, and both roll inwards at the lip line, where
// they meet with nearly vertical normals (down on the upper lip, up on the lower).
double lips(double X, double Y) {
    const double taper = lipTaper(X);
    if (taper <= 0.0)
        return 0.0;
    const double above = Y - mouthY;
    double bulge;
    if (above >= 0.0) {
        const double t = above / std::max(upperLipHeight(X), 0.05);
        bulge = 0.3 * taper * gaussian(t - 0.5, 0.42);
    } else {
        const double t = -above / std::max(lowerLipHeight(X), 0.05);
        bulge = 0.3 * taper * gaussian(t - 0.4, 0.45);
    }
    // The roll: both lips turn inwards to meet along the lip line. The upper lip rounds
    // like a quarter ellipse, so that right at the line its surface runs straight back
    // into the mouth (normal straight down); the lower lip's top slopes back more gently
    // (normal up and forwards).
    const double rollDepth =
        0.3 * std::sqrt(std::max(0.0, 1.0 - std::pow(std::fabs(X) / mouthCornerX, 24.0)));
    double roll = 0.0;
    if (above >= 0.0) {
        const double t = above / 0.28;
        if (t < 1.0)
            roll = -rollDepth * (1.0 - std::sqrt(1.0 - square(1.0 - t)));
    } else {
        const double t = -above / 0.5;
        if (t < 1.0)
            roll = -rollDepth * std::pow(1.0 - t, 1.6);
    }
    return bulge + roll;
}

double chin(double X, double Y) {
    return 1.0 * bump(X, Y, 0.0, -7.3, 1.6, 0.9)      // chin prominence
           - 0.15 * bump(X, Y, 0.0, -5.9, 1.5, 0.35); // groove under the lower lip
}

// The surface turns under along the lower edge (chin and jaw).
double jawUnderside(double X, double Y) {
    const double s = clamp01((Y - bottomY(X)) / 1.1);
    return -1.1 * square(1.0 - s);
}

double faceRelief(double X, double Y) {
    return foreheadAndTemples(X, Y) + browRidge(X, Y) + eyeSockets(X, Y) + nose(X, Y) +
           cheeks(X, Y) + mouth(X, Y) + lips(X, Y) + chin(X, Y) + jawUnderside(X, Y);
}

// ---- Eyelids ----------------------------------------------------------------------------

constexpr double lidThickness = 0.2; // lid skin over the eyeball, away from the rim
constexpr double rimGap = 0.04;      // lid margin's distance from the eyeball
constexpr double lidBlend = 0.3;     // width of the crease where the lids meet the face

// Normalised lid shape s^a (1 − s)^b, 1 at its peak; s runs from the inner corner (0)
// to the outer corner (1).
double lidShape(double s, double a, double b) {
    if (s <= 0.0 || s >= 1.0)
        return 0.0;
    const double peak = a / (a + b);
    return std::pow(s, a) * std::pow(1.0 - s, b) / (std::pow(peak, a) * std::pow(1.0 - peak, b));
}
double lidParameter(double X) { return (std::fabs(X) - eyeInnerX) / (eyeOuterX - eyeInnerX); }

// Radial offset (from the base head) where the ray of (angle, Y) meets the sphere of
// radius eyeballRadius + thickness around the eyeball on the side of X; −infinity when
// it misses.
double lidShellOffset(double X, double Y, double angle, double thickness) {
    const Point3 centre = eyeballCentre(X < 0.0 ? -1 : 1);
    const Point3 origin = axisPoint(Y);
    const Point3 direction = radialDirection(angle);
    const Point3 toCentre = centre - origin;
    const double along = dot(toCentre, direction);
    const double radius = eyeballRadius + thickness;
    const double discriminant = along * along - dot(toCentre, toCentre) + radius * radius;
    if (discriminant < 0.0)
        return -std::numeric_limits<double>::infinity();
    return along + std::sqrt(discriminant) - baseRadius(angle, Y);
}

} // namespace

double bottomY(double X) {
    const double s = smoothstep(0.0, 10.0, std::fabs(X));
    return chinBottomY + (jawSideBottomY - chinBottomY) * s;
}

double upperLidY(double X) { return eyeSlitY + upperLidRise * lidShape(lidParameter(X), 1.0, 1.4); }
double lowerLidY(double X) { return eyeSlitY - lowerLidDrop * lidShape(lidParameter(X), 1.4, 1.0); }

double eyeOpeningDistance(double X, double Y) {
    // Exact near the eyes; elsewhere a lower bound of at least 1 is enough for every use.
    const double ax = std::fabs(X);
    if (ax < eyeInnerX - 1.0 || ax > eyeOuterX + 1.0 || std::fabs(Y - eyeSlitY) > 1.6)
        return 1.0 + std::max({eyeInnerX - 1.0 - ax, ax - eyeOuterX - 1.0,
                               std::fabs(Y - eyeSlitY) - 1.6, 0.0});
    // The outline as two polylines from corner to corner.
    constexpr int segments = 48;
    double best = std::numeric_limits<double>::infinity();
    for (int lid = 0; lid < 2; ++lid) {
        double px = eyeInnerX, py = eyeSlitY;
        for (int i = 1; i <= segments; ++i) {
            const double qx = eyeInnerX + (eyeOuterX - eyeInnerX) * i / segments;
            const double qy = lid == 0 ? upperLidY(qx) : lowerLidY(qx);
            const double dx = qx - px, dy = qy - py;
            const double t = clamp01(((ax - px) * dx + (Y - py) * dy) / (dx * dx + dy * dy));
            best = std::min(best, std::hypot(ax - (px + t * dx), Y - (py + t * dy)));
            px = qx;
            py = qy;
        }
    }
    const bool inside = ax > eyeInnerX && ax < eyeOuterX && Y < upperLidY(ax) && Y > lowerLidY(ax);
    return inside ? -best : best;
}

double upperLipHeight(double X) {
    const double taper = 1.0 - square(X / mouthCornerX);
    if (taper <= 0.0)
        return 0.0;
    // Cupid's bow: two peaks either side of a dip in the middle.
    const double bow =
        0.06 * (gaussian(X - 0.42, 0.2) + gaussian(X + 0.42, 0.2)) - 0.07 * gaussian(X, 0.16);
    return (0.55 + bow) * std::pow(taper, 0.7);
}

double lowerLipHeight(double X) {
    const double taper = 1.0 - square(X / mouthCornerX);
    return taper <= 0.0 ? 0.0 : 0.8 * std::pow(taper, 0.55);
}

Point3 eyeballCentre(int sign) {
    // Between the eye corners on the base head, one radius behind its surface, so that
    // the eyeball's front sits level with the surrounding face.
    const double inner = eyeInnerX / headRadius, outer = eyeOuterX / headRadius;
    const double middle = 0.5 * (inner + outer);
    const double xInner = baseRadius(inner, eyeSlitY) * std::sin(inner);
    const double xOuter = baseRadius(outer, eyeSlitY) * std::sin(outer);
    const double zFront = headAxisZ + baseRadius(middle, eyeSlitY) * std::cos(middle);
    return {sign * 0.5 * (xInner + xOuter), eyeSlitY + 0.05, zFront - eyeballRadius + 0.1};
}

Point3 facePoint(double X, double Y) {
    const double angle = X / headRadius;
    double offset = faceRelief(X, Y);
    // Eyelids: the skin wraps the eyeball (a shell thinning to the lid margin at the rim),
    // merged with the rest of the face by a smooth maximum.
    const double rim = eyeOpeningDistance(X, Y);
    if (rim < 1.0) {
        const double thickness = rimGap + (lidThickness - rimGap) * smoothstep(0.0, 0.5, rim);
        const double shell = lidShellOffset(X, Y, angle, thickness);
        if (shell > offset - lidBlend)
            offset = smoothMax(offset, shell, lidBlend);
    }
    return axisPoint(Y) + radialDirection(angle) * (baseRadius(angle, Y) + offset);
}

void domainTexCoord(double X, double Y, double& u, double& v) {
    u = (X + sideX) / (2.0 * sideX);
    v = (topY - Y) / (topY - chinBottomY);
}

void texCoordDomain(double u, double v, double& X, double& Y) {
    X = u * 2.0 * sideX - sideX;
    Y = topY - v * (topY - chinBottomY);
}
