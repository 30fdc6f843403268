// The analytic face of face-assets: a smooth surface over a flat "face domain".
//
// Domain coordinates (X, Y): Y is height in model units (centimetres), X is the angle
// around the head's vertical axis times headRadius, so that near the middle of the face
// X is close to the model x coordinate. The face covers X in [−sideX, sideX] (ear to
// ear) and Y from bottomY(X) (chin and jaw line) up to topY (hairline). Texture
// coordinates are the domain scaled to the unit square, v = 0 at the top.
//
// The surface is a head-shaped base (a superellipse in every horizontal slice) whose
// radius is raised or lowered by a sum of named features (brow ridge, eye sockets, nose,
// cheeks, mouth, lips, chin, jaw), and whose eyelids wrap the eyeballs. Two cuts run
// through the domain: each eye's opening (a hole between the upper and lower lid curves)
// and the lip line (a slit from one mouth corner to the other, closed at rest, along
// which the lips roll inwards and meet).
#pragma once

// A point or direction in double precision (converted to 32-bit floats when written).
struct Point3 {
    double x, y, z;
};
inline Point3 operator+(const Point3& a, const Point3& b) {
    return {a.x + b.x, a.y + b.y, a.z + b.z};
}
inline Point3 operator-(const Point3& a, const Point3& b) {
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}
inline Point3 operator*(const Point3& a, double s) { return {a.x * s, a.y * s, a.z * s}; }
inline double dot(const Point3& a, const Point3& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
inline Point3 cross(const Point3& a, const Point3& b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

// Layout of the face in the domain (model units).
constexpr double headRadius = 8.0; // X = headRadius · angle around the vertical axis
constexpr double headAxisZ = -3.3; // the vertical axis runs through (0, Y, headAxisZ)
constexpr double sideAngle = 1.45; // ear to ear: angles −1.45 .. 1.45 (83 degrees)
constexpr double sideX = headRadius * sideAngle;
constexpr double topY = 8.4;            // top edge, at the front of the hair
constexpr double chinBottomY = -8.6;    // lowest point of the chin
constexpr double jawSideBottomY = -6.6; // lower edge at the sides of the face

constexpr double eyeSlitY = 1.75;     // height of the eye corners
constexpr double eyeInnerX = 1.85;    // |X| of the inner eye corners
constexpr double eyeOuterX = 4.55;    // |X| of the outer eye corners
constexpr double upperLidRise = 0.5;  // highest point of the upper lid above the corners
constexpr double lowerLidDrop = 0.42; // lowest point of the lower lid below them
constexpr double eyeballRadius = 1.6;

constexpr double mouthY = -4.6;      // the lip line
constexpr double mouthCornerX = 2.4; // |X| of the mouth corners

// Lower edge of the face domain: the chin's underside in the middle, rising to the jaw
// line at the sides.
double bottomY(double X);

// The lid curves of the eye on the side of X, for eyeInnerX <= |X| <= eyeOuterX; both
// equal eyeSlitY at the corners.
double upperLidY(double X);
double lowerLidY(double X);

// Distance in the domain from (X, Y) to the nearest eye opening's outline; negative
// inside the opening.
double eyeOpeningDistance(double X, double Y);

// Upper-lip vermilion height above the lip line at X (0 beyond the mouth corners), and
// the lower lip's height below it.
double upperLipHeight(double X);
double lowerLipHeight(double X);

// Centre of the eyeball on the side of sign (−1: negative x, +1: positive x).
Point3 eyeballCentre(int sign);

// The face surface at domain point (X, Y).
Point3 facePoint(double X, double Y);

// Texture coordinates of domain point (X, Y): the domain rectangle scaled to [0, 1]²,
// v = 0 at topY.
void domainTexCoord(double X, double Y, double& u, double& v);
// The inverse: the domain point shown at texture coordinates (u, v).
void texCoordDomain(double u, double v, double& X, double& Y);
