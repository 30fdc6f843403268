// The default face's expression library (expressions.h).
//
// Every expression is a field of moves over the control points, written in the terms the
// face was built in: a point's place in the face domain (X across, Y up), its row of the
// layout and its side of a cut (mesh.h). The lids turn about their eyeball's centre, so a
// lid slides over the eye rather than through it; the jaw turns about a hinge in front of
// the ears; the lips, cheeks and brows move by smooth falloffs around the features. Sizes
// are in model units (the face is 17 tall, from the chin to the hairline).
#include "tools/assets/expressions.h"

#include "face/amplification.h"
#include "io/data_folder.h"
#include "io/file_contents.h"
#include "io/model_file.h"
#include "tools/assets/write.h"
#include "tools/common/pose_mix.h"
#include "tools/common/symmetry.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

static_assert(expressionCount == arkitExpressionCount - 1, "the library leaves out tongueOut");

const char* const missingExpressionNote =
    "tongueOut is not in the library: the face has no tongue to put out";

const ExpressionPreset expressionPresets[expressionPresetCount] = {
    {"happy",
     {{"mouthSmileLeft", 1.0f},
      {"mouthSmileRight", 1.0f},
      {"cheekSquintLeft", 0.6f},
      {"cheekSquintRight", 0.6f},
      {"eyeSquintLeft", 0.4f},
      {"eyeSquintRight", 0.4f}},
     6},
    {"angry",
     {{"browDownLeft", 1.0f},
      {"browDownRight", 1.0f},
      {"mouthFrownLeft", 0.5f},
      {"mouthFrownRight", 0.5f},
      {"noseSneerLeft", 0.4f},
      {"noseSneerRight", 0.4f}},
     6},
    {"sad",
     {{"browInnerUp", 1.0f},
      {"mouthFrownLeft", 0.8f},
      {"mouthFrownRight", 0.8f},
      {"mouthShrugLower", 0.4f}},
     4},
    {"relaxed",
     {{"mouthSmileLeft", 0.4f},
      {"mouthSmileRight", 0.4f},
      {"eyeBlinkLeft", 0.3f},
      {"eyeBlinkRight", 0.3f}},
     4},
    {"surprised",
     {{"browInnerUp", 1.0f},
      {"browOuterUpLeft", 1.0f},
      {"browOuterUpRight", 1.0f},
      {"eyeWideLeft", 1.0f},
      {"eyeWideRight", 1.0f},
      {"jawOpen", 0.4f}},
     6},
    {"aa", {{"jawOpen", 0.8f}}, 1},
    {"ih", {{"jawOpen", 0.25f}, {"mouthStretchLeft", 0.4f}, {"mouthStretchRight", 0.4f}}, 3},
    {"ou", {{"mouthPucker", 0.8f}, {"mouthFunnel", 0.4f}, {"jawOpen", 0.15f}}, 3},
    {"ee",
     {{"jawOpen", 0.2f},
      {"mouthSmileLeft", 0.4f},
      {"mouthSmileRight", 0.4f},
      {"mouthStretchLeft", 0.3f},
      {"mouthStretchRight", 0.3f}},
     5},
    {"oh", {{"mouthFunnel", 0.9f}, {"jawOpen", 0.4f}}, 2},
    {"blink", {{"eyeBlinkLeft", 1.0f}, {"eyeBlinkRight", 1.0f}}, 2},
    {"blinkLeft", {{"eyeBlinkLeft", 1.0f}}, 1},
    {"blinkRight", {{"eyeBlinkRight", 1.0f}}, 1},
    {"lookUp", {{"eyeLookUpLeft", 1.0f}, {"eyeLookUpRight", 1.0f}}, 2},
    {"lookDown", {{"eyeLookDownLeft", 1.0f}, {"eyeLookDownRight", 1.0f}}, 2},
    // the avatar looks to its own left: its left eye out, its right eye in
    {"lookLeft", {{"eyeLookOutLeft", 1.0f}, {"eyeLookInRight", 1.0f}}, 2},
    {"lookRight", {{"eyeLookInLeft", 1.0f}, {"eyeLookOutRight", 1.0f}}, 2},
    {"neutral", {}, 0},
};

namespace {

// ---- Shapes of the moves ---------------------------------------------------------------

double smooth01(double t) {
    t = std::min(1.0, std::max(0.0, t));
    return t * t * (3.0 - 2.0 * t);
}

// 1 at distance 0 falling smoothly to 0 at radius.
double reach(double distance, double radius) { return smooth01(1.0 - distance / radius); }

// The share of a one-sided move that a point takes by its X (times the side's sign): all on
// its own side, none on the other, half on the middle line, so that a left and a right
// expression add up to a symmetric one.
double sideShare(double sideX) { return smooth01((sideX + 0.8) / 1.6); }

// A window over an eye's span: 1 over its middle, falling to 0 a little beyond its corners.
double eyeWindow(double X) {
    const double t = (std::fabs(X) - (eyeInnerX - 0.6)) / (eyeOuterX - eyeInnerX + 1.2);
    return t <= 0.0 || t >= 1.0 ? 0.0 : std::sin(3.14159265358979323846 * t);
}

// The lips' taper: 1 in the middle, 0 at the corners.
double lipTaper(double X) { return std::max(0.0, 1.0 - (X / mouthCornerX) * (X / mouthCornerX)); }

// The elevation of p about the eyeball centre c: its angle above the horizontal through c,
// seen along x.
double elevation(const Point3& p, const Point3& c) { return std::atan2(p.y - c.y, p.z - c.z); }

// p turned about the horizontal axis (along x) through c, its elevation raised by angle.
Point3 lifted(const Point3& p, const Point3& c, double angle) {
    const double dy = p.y - c.y, dz = p.z - c.z;
    const double cs = std::cos(angle), sn = std::sin(angle);
    return {p.x, c.y + dy * cs + dz * sn, c.z - dy * sn + dz * cs};
}

// p turned about the vertical axis through c by angle (positive turns +z towards +x).
Point3 turned(const Point3& p, const Point3& c, double angle) {
    const double dx = p.x - c.x, dz = p.z - c.z;
    const double cs = std::cos(angle), sn = std::sin(angle);
    return {c.x + dx * cs + dz * sn, p.y, c.z - dx * sn + dz * cs};
}

// The jaw's hinge: a horizontal axis in front of the ears, below the cheekbones.
constexpr double jawHingeY = -2.0, jawHingeZ = -3.0;
// jawOpen's turn about it, in radians: the lower lip's middle drops about 1.6 units.
constexpr double jawOpenAngle = 0.21;
// Of the lips' meeting with the jaw open, the share the upper lip comes down (mouthClose).
constexpr double upperLipClosingShare = 0.3;
// Of an eye's closing, the share the lower lid comes up (eyeBlink).
constexpr double lowerLidClosingShare = 0.15;
// How far the upper lid passes the lower at the middle of a closed eye, as a share of the
// rest gap there: the lids' edges bow apart between their control points by about 7 % of it,
// and the measure allows the upper lid to pass by at most 5 %.
constexpr float blinkOverlap = 0.04f;

using Field = std::vector<Point3>; // one move a control point

struct Layout {
    const ControlMesh& control;
    int K;
    const Point3& at(int i) const { return control.mesh.positions[i]; }
    double X(int i) const { return control.mesh.domain[i].X; }
    double Y(int i) const { return control.mesh.domain[i].Y; }
    int row(int i) const { return control.row[i]; }
    int side(int i) const { return control.side[i]; }
    // A point on the edge of an eye's opening, between its corners.
    bool onLidEdge(int i) const { return row(i) == controlRow::eyes && side(i) != 0; }
    // A point of the lip line between the corners, on one lip only.
    bool onLipEdge(int i) const { return row(i) == controlRow::mouth && side(i) != 0; }
    bool isMouthCorner(int i) const {
        return row(i) == controlRow::mouth && std::fabs(std::fabs(X(i)) - mouthCornerX) < 1e-9;
    }
    // The other edge's point of a lid at the same X.
    int lidPartner(int i) const {
        for (int j = 0; j < K; ++j)
            if (j != i && onLidEdge(j) && std::fabs(X(j) - X(i)) < 1e-9)
                return j;
        std::fprintf(stderr, "face-assets: lid point %d has no partner across the eye\n", i);
        std::exit(1);
    }
    // The opening's angle at a lid point, seen from the eyeball's centre.
    double lidOpening(int i) const {
        const Point3 c = eyeballCentre(X(i) < 0.0 ? -1 : 1);
        const int upper = side(i) > 0 ? i : lidPartner(i), lower = side(i) > 0 ? lidPartner(i) : i;
        return elevation(at(upper), c) - elevation(at(lower), c);
    }
};

// The lid edges of the eye on side s turn about its centre: the upper edge by upperShare
// of the opening's angle at each point, the lower by lowerShare (positive raises), and the
// crease above and the row below by creaseShare and belowShare of the middle's opening,
// over the eye's window.
void moveLids(Field& f, const Layout& l, int s, double upperShare, double lowerShare,
              double creaseShare, double belowShare) {
    const Point3 c = eyeballCentre(s);
    double middleOpening = 0.0;
    for (int i = 0; i < l.K; ++i)
        if (l.onLidEdge(i) && l.X(i) * s > 0.0)
            middleOpening = std::max(middleOpening, l.lidOpening(i));
    for (int i = 0; i < l.K; ++i) {
        if (l.X(i) * s <= 0.0)
            continue;
        double angle = 0.0;
        if (l.onLidEdge(i))
            angle = (l.side(i) > 0 ? upperShare : lowerShare) * l.lidOpening(i);
        else if (l.row(i) == controlRow::lidCrease)
            angle = creaseShare * middleOpening * eyeWindow(l.X(i));
        else if (l.row(i) == controlRow::lowerLids)
            angle = belowShare * middleOpening * eyeWindow(l.X(i));
        if (angle != 0.0)
            f[i] = f[i] + (lifted(l.at(i), c, angle) - l.at(i));
    }
}

// The lid edges of the eye on side s turn sideways about its centre by angle (positive
// towards +x).
void turnLids(Field& f, const Layout& l, int s, double angle) {
    const Point3 c = eyeballCentre(s);
    for (int i = 0; i < l.K; ++i)
        if (l.onLidEdge(i) && l.X(i) * s > 0.0)
            f[i] = f[i] + (turned(l.at(i), c, angle) - l.at(i));
}

// How much of the jaw's move the lower lip's edge takes at X: all of it in the middle, less
// towards the corners, so that the open mouth is round rather than boxed.
double lipEdgeJawShare(double X) { return 0.6 + 0.4 * smooth01(1.0 - std::fabs(X) / mouthCornerX); }

// How much of the jaw's move a point takes: everything below the lip line all of it, the
// lower lip's edge most of it (lipEdgeJawShare), the corners and the cheeks beside the mouth
// a share (fading upwards), the upper lip none.
double jawWeight(const Layout& l, int i) {
    if (l.row(i) > controlRow::mouth)
        return 1.0;
    if (l.onLipEdge(i))
        return l.side(i) < 0 ? lipEdgeJawShare(l.X(i)) : 0.0;
    if (l.isMouthCorner(i))
        return 0.3;
    if (l.row(i) == controlRow::mouth)
        return 0.35;
    return 0.35 * (1.0 - smooth01((l.Y(i) - mouthY) / 2.2)) *
           smooth01((std::fabs(l.X(i)) - 2.0) / 1.5);
}

// The jaw's turn about its hinge, in full, at point p.
Point3 jawTurn(const Point3& p, double angle) {
    const double dy = p.y - jawHingeY, dz = p.z - jawHingeZ;
    const double cs = std::cos(angle), sn = std::sin(angle);
    return Point3{p.x, jawHingeY + dy * cs - dz * sn, jawHingeZ + dy * sn + dz * cs} - p;
}

// The mouth corners move sideways by dx towards the middle (negative: outwards), both alike,
// which leaves the teeth's frames as they are.
void narrowCorners(Field& f, const Layout& l, double dx) {
    for (int i = 0; i < l.K; ++i)
        if (l.isMouthCorner(i))
            f[i].x += l.X(i) > 0.0 ? -dx : dx;
}

// Moves every point by move times weight(i).
template <class Weight> void addMove(Field& f, const Layout& l, Point3 move, Weight weight) {
    for (int i = 0; i < l.K; ++i) {
        const double w = weight(i);
        if (w != 0.0)
            f[i] = f[i] + move * w;
    }
}

double domainDistance(const Layout& l, int i, double X, double Y) {
    return std::hypot(l.X(i) - X, l.Y(i) - Y);
}

// A point of the lower lip's border row that borders the lip (the row dips to the chin's
// groove in the middle, which is not lip).
bool onLowerLipBorder(const Layout& l, int i) {
    return l.row(i) == controlRow::lowerLip && l.Y(i) >= mouthY - 1.2;
}

bool onLips(const Layout& l, int i) {
    const int r = l.row(i);
    return (r == controlRow::upperLip || r == controlRow::mouth || onLowerLipBorder(l, i)) &&
           std::fabs(l.X(i)) <= mouthCornerX + 1e-9;
}

// How much of a sideways or forward move of the jaw a point takes: its jaw weight, fading
// towards the ears, where the jaw turns about its joint rather than slides.
double jawSlideWeight(const Layout& l, int i) {
    return jawWeight(l, i) * (1.0 - smooth01((std::fabs(l.X(i)) - 5.0) / 5.0));
}

// ---- The expressions, each made on the face's left (s = +1) or on both sides -------------

// mouthClose's moves at scale k: the lips' edges meet where jawOpen parts them, the upper
// coming down upperLipClosingShare of the way, their borders following a little.
void mouthCloseField(Field& f, const Layout& l, double k) {
    for (int i = 0; i < l.K; ++i) {
        const Point3 jaw = jawTurn(l.at(i), jawOpenAngle);
        const double taper = lipTaper(l.X(i));
        if (l.onLipEdge(i))
            f[i] = f[i] +
                   jaw * ((l.side(i) > 0 ? upperLipClosingShare : -(1.0 - upperLipClosingShare)) *
                          k * lipEdgeJawShare(l.X(i)));
        else if (l.row(i) == controlRow::upperLip && std::fabs(l.X(i)) < mouthCornerX)
            f[i] = f[i] + jaw * (upperLipClosingShare * 0.3 * k * taper);
        else if (onLowerLipBorder(l, i) && std::fabs(l.X(i)) < mouthCornerX)
            f[i] = f[i] + jaw * (-(1.0 - upperLipClosingShare) * 0.5 * k * taper);
    }
}

// The moves of expression name at the scale k of the two that are fitted (1 for others).
// Sided expressions are made on the left; returns false for a name it does not make.
bool makeField(Field& f, const Layout& l, const std::string& name, double k) {
    f.assign(l.K, Point3{0.0, 0.0, 0.0});
    const int s = 1;
    const Point3 corner{s * mouthCornerX, mouthY, 0.0};
    auto fromCorner = [&](int i) { return domainDistance(l, i, corner.x, corner.y); };
    if (name == "eyeBlinkLeft")
        moveLids(f, l, s, -(1.0 - lowerLidClosingShare) * k, lowerLidClosingShare * k, -0.3 * k,
                 0.05 * k);
    else if (name == "eyeWideLeft") {
        moveLids(f, l, s, 0.32, -0.08, 0.22, 0.0);
        addMove(f, l, {0, 0.12, 0}, [&](int i) {
            return l.row(i) == controlRow::brows ? eyeWindow(l.X(i)) * (l.X(i) > 0) : 0.0;
        });
    } else if (name == "eyeSquintLeft") {
        moveLids(f, l, s, -0.08, 0.3, 0.0, 0.0);
        addMove(f, l, {0, 0.25, 0}, [&](int i) {
            const double w = l.X(i) > 0 ? eyeWindow(l.X(i)) : 0.0;
            return l.row(i) == controlRow::lowerLids ? w
                   : l.row(i) == controlRow::cheeks  ? 0.4 * w
                                                     : 0.0;
        });
    } else if (name == "eyeLookUpLeft")
        moveLids(f, l, s, 0.35, 0.12, 0.18, 0.04);
    else if (name == "eyeLookDownLeft")
        moveLids(f, l, s, -0.48, -0.15, -0.2, -0.05);
    else if (name == "eyeLookInLeft")
        turnLids(f, l, s, -s * 0.14);
    else if (name == "eyeLookOutLeft")
        turnLids(f, l, s, s * 0.14);
    else if (name == "jawOpen") {
        for (int i = 0; i < l.K; ++i)
            f[i] = jawTurn(l.at(i), jawOpenAngle) * jawWeight(l, i);
        narrowCorners(f, l, 0.12);
    } else if (name == "jawForward")
        addMove(f, l, {0, 0, 0.55}, [&](int i) { return jawSlideWeight(l, i); });
    else if (name == "jawLeft") {
        addMove(f, l, {s * 0.55, 0, 0}, [&](int i) { return jawSlideWeight(l, i); });
        addMove(f, l, {s * 0.25, 0, 0}, [&](int i) { return l.isMouthCorner(i) ? 1.0 : 0.0; });
    } else if (name == "mouthClose")
        mouthCloseField(f, l, k);
    else if (name == "mouthFunnel" || name == "mouthPucker") {
        // Both push the lips forward and draw the corners in; the funnel also parts them a
        // little and turns their borders out, the pucker keeps them closed.
        const bool funnel = name == "mouthFunnel";
        const double inward = funnel ? 0.35 : 0.45;
        for (int i = 0; i < l.K; ++i) {
            const double t = lipTaper(l.X(i)), sx = l.X(i) > 0 ? -1.0 : 1.0;
            const double around =
                reach(std::min(fromCorner(i), domainDistance(l, i, -corner.x, corner.y)), 2.0);
            const bool lips = onLips(l, i);
            Point3 m{sx * inward * std::max(around, lips ? std::fabs(l.X(i)) / mouthCornerX : 0.0),
                     0.0, 0.0};
            if (lips) {
                m.z = (l.onLipEdge(i) ? 0.55 : 0.4) * t;
                if (funnel && l.onLipEdge(i))
                    m.y = (l.side(i) > 0 ? 0.1 : -0.16) * t;
                else if (funnel)
                    m.y = (l.row(i) == controlRow::upperLip ? 0.08 : -0.08) * t;
            }
            f[i] = m;
        }
    } else if (name == "mouthLeft")
        addMove(f, l, {s * 0.55, 0, 0}, [&](int i) {
            const double d = domainDistance(l, i, 0.0, mouthY);
            return d < 1.0 ? 1.0 : reach(d - 1.0, 3.5);
        });
    else if (name == "mouthSmileLeft") {
        addMove(f, l, {s * 0.55, 0.8, -0.3}, [&](int i) { return reach(fromCorner(i), 2.3); });
        addMove(f, l, {0, 0.35, 0}, [&](int i) {
            return reach(domainDistance(l, i, s * 3.6, -1.6), 2.4) * (l.row(i) < controlRow::mouth);
        });
    } else if (name == "mouthFrownLeft") {
        addMove(f, l, {s * 0.1, -0.6, 0}, [&](int i) { return reach(fromCorner(i), 2.2); });
        addMove(f, l, {0, -0.15, 0},
                [&](int i) { return reach(domainDistance(l, i, s * 3.0, -6.0), 1.8); });
    } else if (name == "mouthDimpleLeft")
        addMove(f, l, {s * 0.3, 0.05, -0.45}, [&](int i) { return reach(fromCorner(i), 1.6); });
    else if (name == "mouthStretchLeft") {
        addMove(f, l, {s * 0.6, -0.35, -0.1}, [&](int i) { return reach(fromCorner(i), 2.2); });
        addMove(f, l, {0, -0.15, 0}, [&](int i) {
            const bool lower = (l.onLipEdge(i) && l.side(i) < 0) || onLowerLipBorder(l, i);
            return lower ? reach(fromCorner(i), 2.0) : 0.0;
        });
    } else if (name == "mouthRollUpper" || name == "mouthRollLower") {
        const bool upper = name == "mouthRollUpper";
        for (int i = 0; i < l.K; ++i) {
            const double t = lipTaper(l.X(i));
            if (l.onLipEdge(i) && (l.side(i) > 0) == upper)
                f[i] = Point3{0, upper ? 0.03 : -0.03, -0.3} * t;
            else if ((upper ? l.row(i) == controlRow::upperLip : onLowerLipBorder(l, i)))
                f[i] = Point3{0, upper ? -0.22 : 0.28, -0.3} * t;
        }
    } else if (name == "mouthShrugLower") {
        addMove(f, l, {0, 0.4, 0.15}, [&](int i) {
            const bool lip = (l.onLipEdge(i) && l.side(i) < 0) || onLowerLipBorder(l, i);
            return lip ? reach(std::fabs(l.X(i)), 3.5) : 0.0;
        });
        addMove(f, l, {0, 0.25, 0.1}, [&](int i) {
            return l.row(i) == controlRow::chin ? reach(std::fabs(l.X(i)), 3.0) : 0.0;
        });
    } else if (name == "mouthShrugUpper")
        addMove(f, l, {0, 0.3, 0.1}, [&](int i) {
            const bool lip = (l.onLipEdge(i) && l.side(i) > 0) || l.row(i) == controlRow::upperLip;
            return lip ? reach(std::fabs(l.X(i)), 3.2) : 0.0;
        });
    else if (name == "mouthPressLeft")
        for (int i = 0; i < l.K; ++i) {
            if (!onLips(l, i) || l.isMouthCorner(i))
                continue;
            const double w = sideShare(s * l.X(i));
            if (l.row(i) == controlRow::upperLip)
                f[i] = Point3{0, -0.25, -0.05} * w;
            else if (onLowerLipBorder(l, i))
                f[i] = Point3{0, 0.25, -0.05} * w;
            else
                f[i] = Point3{0, l.side(i) > 0 ? -0.1 : 0.1, 0} * w;
        }
    else if (name == "mouthLowerDownLeft" || name == "mouthUpperUpLeft") {
        const bool lower = name == "mouthLowerDownLeft";
        for (int i = 0; i < l.K; ++i) {
            const double w = sideShare(s * l.X(i)) * reach(std::fabs(l.X(i) - s * 1.1), 2.3);
            const bool lip =
                lower ? (l.onLipEdge(i) && l.side(i) < 0) || onLowerLipBorder(l, i)
                      : (l.onLipEdge(i) && l.side(i) > 0) || l.row(i) == controlRow::upperLip;
            if (lip)
                f[i] = Point3{0, lower ? -0.6 : 0.55, 0} * w;
            else if (l.row(i) == (lower ? controlRow::chin : controlRow::noseBase))
                f[i] = Point3{0, lower ? -0.1 : 0.12, 0} * w;
        }
    } else if (name == "browDownLeft" || name == "browOuterUpLeft" || name == "browInnerUp") {
        auto rowWeight = [&](int i) {
            switch (l.row(i)) {
            case controlRow::forehead:
                return 0.35;
            case controlRow::aboveBrows:
                return 0.7;
            case controlRow::brows:
                return 1.0;
            case controlRow::lidCrease:
                return 0.3;
            default:
                return 0.0;
            }
        };
        if (name == "browDownLeft")
            for (int i = 0; i < l.K; ++i) {
                const double w = rowWeight(i) * sideShare(s * l.X(i)) *
                                 reach(std::max(0.0, std::fabs(l.X(i)) - 5.0), 2.0);
                const double inner = reach(std::fabs(l.X(i)), 3.0);
                f[i] = Point3{-s * 0.06 * inner, -0.55, 0.05} * w;
            }
        else if (name == "browOuterUpLeft")
            addMove(f, l, {0, 0.8, 0}, [&](int i) {
                return rowWeight(i) * sideShare(s * l.X(i)) *
                       reach(std::fabs(s * l.X(i) - 4.6), 2.6);
            });
        else
            addMove(f, l, {0, 0.8, 0}, [&](int i) {
                return rowWeight(i) * reach(std::max(0.0, std::fabs(l.X(i)) - 1.2), 2.6);
            });
    } else if (name == "cheekPuff")
        for (int i = 0; i < l.K; ++i) {
            if (onLips(l, i))
                continue;
            const double w = reach(std::hypot(std::fabs(l.X(i)) - 4.0, l.Y(i) + 3.0), 2.8);
            const double angle = l.X(i) / headRadius;
            f[i] = Point3{std::sin(angle), 0.0, std::cos(angle)} * (0.8 * w);
        }
    else if (name == "cheekSquintLeft")
        addMove(f, l, {0, 0.45, 0},
                [&](int i) { return reach(domainDistance(l, i, s * 4.0, 0.2), 2.2); });
    else if (name == "noseSneerLeft") {
        addMove(f, l, {0, 0.45, -0.02},
                [&](int i) { return reach(domainDistance(l, i, s * 1.0, -1.9), 2.0); });
        addMove(f, l, {0, -0.15, 0},
                [&](int i) { return reach(domainDistance(l, i, s * 1.6, 3.1), 1.5); });
    } else
        return false;
    return true;
}

// The float nearest to x as written with four decimals (0 for −0), as the library's files
// hold it.
float fourDecimals(double x) {
    char text[48];
    std::snprintf(text, sizeof text, "%.4f", x);
    return std::strtof(text, nullptr) + 0.0f;
}

void toOffsets(std::vector<Vector3>& offsets, const Field& f) {
    offsets.resize(f.size());
    for (size_t i = 0; i < f.size(); ++i)
        offsets[i] = {fourDecimals(f[i].x), fourDecimals(f[i].y), fourDecimals(f[i].z)};
}

// The render vertex at domain point (X, Y): the first there (the upper edge of a cut) or the
// last (the lower edge).
int32_t renderVertexAt(const FaceMesh& render, double X, double Y, bool lowerEdge) {
    int32_t found = -1;
    double best = 1e30;
    for (size_t v = 0; v < render.domain.size(); ++v) {
        const double d = std::hypot(render.domain[v].X - X, render.domain[v].Y - Y);
        if (d < best - 1e-9 || (lowerEdge && d < best + 1e-9)) {
            best = std::min(best, d);
            found = static_cast<int32_t>(v);
        }
    }
    return found;
}

// The secant root of g(k) = 0 from k = 1, a few steps (g is nearly linear in k).
template <class G> double solveScale(G g) {
    double k0 = 1.0, g0 = g(k0), k1 = 1.05, g1 = g(k1);
    for (int step = 0; step < 6 && g1 != g0 && std::fabs(g1) > 1e-5f; ++step) {
        const double k2 = k1 - g1 * (k1 - k0) / (g1 - g0);
        k0 = k1;
        g0 = g1;
        k1 = k2;
        g1 = g(k1);
    }
    return k1;
}

// The render vertices of the lip line at domain X (0 ≤ X < mouthCornerX): the upper lip's
// copy first, then the lower's.
bool lipLinePair(int32_t& upper, int32_t& lower, const FaceMesh& render, double X) {
    upper = lower = -1;
    double best = 1e30;
    for (size_t v = 0; v < render.domain.size(); ++v) {
        const DomainPoint& d = render.domain[v];
        if (d.Y != mouthY || d.X < 0.0 || d.X >= mouthCornerX)
            continue;
        const double distance = std::fabs(d.X - X);
        if (distance < best - 1e-9) {
            best = distance;
            upper = static_cast<int32_t>(v);
            lower = -1;
        } else if (distance < best + 1e-9)
            lower = static_cast<int32_t>(v);
    }
    return upper >= 0 && lower >= 0;
}

// Moves each point of the lips' edges in close (mouthClose's field, mirrored alike on both
// sides) by the lips' gap left at its own place when close is added to jaw (jawOpen's
// offsets): the upper lip's points down by upperLipClosingShare of it, the lower's up by the
// rest. A few rounds, each measured on the bound face.
void sealLipEdges(Field& close, const Layout& l, DefaultFace& face,
                  const std::vector<Vector3>& jaw) {
    FaceModel& model = *face.model;
    const int32_t K = model.controlPointCount;
    PosedFace posed;
    std::vector<Vector3> offsets;
    for (int round = 0; round < 3; ++round) {
        toOffsets(offsets, close);
        for (int32_t i = 0; i < K; ++i)
            offsets[i] = offsets[i] + jaw[i];
        poseFace(posed, model, face.rest.get(), offsets.data());
        for (int i = 0; i < l.K; ++i) {
            int32_t upper, lower;
            if (!l.onLipEdge(i) || !lipLinePair(upper, lower, face.render, std::fabs(l.X(i))))
                continue;
            const double gap = posed.positions[upper].y - posed.positions[lower].y;
            close[i].y -= gap * (l.side(i) > 0 ? upperLipClosingShare : upperLipClosingShare - 1.0);
        }
    }
}

} // namespace

void buildDefaultFace(DefaultFace& face) {
    buildRenderMesh(face.render, defaultRenderSpacing);
    buildControlMesh(face.control);
    std::string text, error;
    formatFaceModel(text, face.render, face.control.mesh);
    ModelData model;
    if (!readModelBuffer(model, text.data(), text.size(), "retarget.model", error)) {
        std::fprintf(stderr, "face-assets: %s\n", error.c_str());
        std::exit(1);
    }
    face.model.reset(new FaceModel(model.controlPoints.get(), model.controlPointCount,
                                   model.controlTriangles.get(), model.controlTriangleCount,
                                   model.renderPositions.get(), model.renderNormals.get(),
                                   model.renderTexCoords.get(), model.renderVertexCount,
                                   model.renderTriangles.get(), model.renderTriangleCount));
    face.rest = std::move(model.controlPoints);

    // The features where the generator placed them: the lids' middles on the two edges of
    // each eye's opening, the lips' middles on the two edges of the lip line.
    FaceFeatures& f = face.features;
    const double middleX = 0.5 * (eyeInnerX + eyeOuterX), browY = 3.2;
    for (int eye = 0; eye < 2; ++eye) {
        const double s = eye == 0 ? 1.0 : -1.0;
        const int offset = eye == 0 ? 0 : 1;
        f.vertex[eyeLeftOuter + 2 * offset] =
            renderVertexAt(face.render, s * eyeOuterX, eyeSlitY, false);
        f.vertex[eyeLeftInner + 2 * offset] =
            renderVertexAt(face.render, s * eyeInnerX, eyeSlitY, false);
        f.vertex[lidLeftUpper + 2 * offset] =
            renderVertexAt(face.render, s * middleX, upperLidY(middleX), false);
        f.vertex[lidLeftLower + 2 * offset] =
            renderVertexAt(face.render, s * middleX, lowerLidY(middleX), true);
        f.vertex[browLeftInner + 2 * offset] = renderVertexAt(face.render, s * 1.9, browY, false);
        f.vertex[browLeftOuter + 2 * offset] = renderVertexAt(face.render, s * 5.2, browY, false);
        f.vertex[lipLeftUpper + 2 * offset] =
            renderVertexAt(face.render, s * 0.5 * mouthCornerX, mouthY, false);
        f.vertex[lipLeftLower + 2 * offset] =
            renderVertexAt(face.render, s * 0.5 * mouthCornerX, mouthY, true);
        f.vertex[cheekLeft + offset] = renderVertexAt(face.render, s * 4.0, -3.0, false);
        f.vertex[underEyeLeft + offset] = renderVertexAt(face.render, s * 4.0, 0.2, false);
        f.vertex[noseWingLeft + offset] = renderVertexAt(face.render, s * 1.0, -1.9, false);
    }
    f.vertex[mouthLeft] = renderVertexAt(face.render, mouthCornerX, mouthY, false);
    f.vertex[mouthRight] = renderVertexAt(face.render, -mouthCornerX, mouthY, false);
    f.vertex[lipUpper] = renderVertexAt(face.render, 0.0, mouthY, false);
    f.vertex[lipLower] = renderVertexAt(face.render, 0.0, mouthY, true);
    f.vertex[noseTip] = renderVertexAt(face.render, 0.0, -1.5, false);
    f.vertex[chin] = renderVertexAt(face.render, 0.0, chinBottomY + 1.3, false);
    f.height = static_cast<float>(topY - chinBottomY);
}

namespace {

// What each expression does, for the comment line of its file (sided ones on the left).
const char* summaryOf(const std::string& name) {
    struct Entry {
        const char* name;
        const char* summary;
    };
    static const Entry entries[] = {
        {"eyeBlink", "the eye closes: the upper lid comes down over the eyeball to meet the lower"},
        {"eyeLookDown", "the eye looks down: the upper lid follows the iris down"},
        {"eyeLookIn",
         "the eye looks towards the nose: the lids' edges turn that way about the eyeball"},
        {"eyeLookOut",
         "the eye looks towards the ear: the lids' edges turn that way about the eyeball"},
        {"eyeLookUp", "the eye looks up: the lids follow the iris up"},
        {"eyeSquint", "the lower lid and the cheek under the eye rise"},
        {"eyeWide", "the upper lid rises over the eyeball, the lower drops a little"},
        {"jawForward", "the jaw and everything below the lip line move forward"},
        {"jawLeft", "the jaw moves to the face's left"},
        {"jawRight", "the jaw moves to the face's right"},
        {"jawOpen", "the jaw turns open about its hinge: the lower lip, chin and lower teeth drop"},
        {"mouthClose", "the lips close while the jaw is open (with jawOpen at 1 they seal)"},
        {"mouthFunnel", "the lips push forward and open into a funnel, the corners in"},
        {"mouthPucker", "the lips push forward, closed, the corners drawn in"},
        {"mouthLeft", "the mouth moves to the face's left"},
        {"mouthRight", "the mouth moves to the face's right"},
        {"mouthSmile", "the mouth corner rises and widens, the cheek above it rises"},
        {"mouthFrown", "the mouth corner falls"},
        {"mouthDimple", "the mouth corner draws back and out"},
        {"mouthStretch", "the mouth corner stretches out and down"},
        {"mouthRollLower", "the lower lip rolls in over the teeth"},
        {"mouthRollUpper", "the upper lip rolls in over the teeth"},
        {"mouthShrugLower", "the lower lip and chin push up"},
        {"mouthShrugUpper", "the upper lip pushes up"},
        {"mouthPress", "the lips press together on that side, their red thinning"},
        {"mouthLowerDown", "the lower lip pulls down on that side"},
        {"mouthUpperUp", "the upper lip lifts on that side"},
        {"browDown", "the brow lowers and draws in"},
        {"browInnerUp", "the inner ends of both brows rise"},
        {"browOuterUp", "the outer end of the brow rises"},
        {"cheekPuff", "both cheeks puff out"},
        {"cheekSquint", "the cheek under the eye rises"},
        {"noseSneer", "the side of the nose lifts, the inner brow lowers"},
    };
    for (const Entry& e : entries)
        if (name.compare(0, std::string(e.name).size(), e.name) == 0)
            return e.summary;
    return "";
}

bool endsWith(const std::string& text, const char* end) {
    const std::string e(end);
    return text.size() >= e.size() && text.compare(text.size() - e.size(), e.size(), e) == 0;
}

// The name of the left expression of a right one ("eyeBlinkRight": "eyeBlinkLeft").
std::string leftOf(const std::string& name) { return name.substr(0, name.size() - 5) + "Left"; }

} // namespace

void buildExpressions(std::vector<Expression>& expressions, DefaultFace& face) {
    const Layout layout{face.control, static_cast<int>(face.control.mesh.positions.size())};
    FaceModel& model = *face.model;
    const int32_t K = model.controlPointCount;
    MirrorPairs pairs;
    findMirrorPairs(pairs, face.rest.get(), K, model.edges.get(), model.edgeCount);

    PosedFace posed;
    std::vector<Vector3> offsets;
    auto fitted = [&](const std::string& name, double k) {
        Field f;
        makeField(f, layout, name, k);
        toOffsets(offsets, f);
        return offsets;
    };
    // eyeBlink: the scale at which the lid gap at the middle of the eye closes.
    // Between the lids' control points their edges bow apart a little, so the upper lid
    // passes the lower by blinkOverlap of the rest gap at the middle, which closes the eye
    // along its whole length.
    std::vector<Vector3> zero(K, Vector3{0.0f, 0.0f, 0.0f});
    poseFace(posed, model, face.rest.get(), zero.data());
    const float restGap = lidGap(posed, face.features, 0);
    const double blinkScale = solveScale([&](double k) {
        const std::vector<Vector3> o = fitted("eyeBlinkLeft", k);
        poseFace(posed, model, face.rest.get(), o.data());
        return lidGap(posed, face.features, 0) + blinkOverlap * restGap;
    });
    // mouthClose: the scale at which it seals the lips that jawOpen parts.
    const std::vector<Vector3> jaw = fitted("jawOpen", 1.0);
    const double closeScale = solveScale([&](double k) {
        std::vector<Vector3> o = fitted("mouthClose", k);
        for (int32_t i = 0; i < K; ++i)
            o[i] = o[i] + jaw[i];
        poseFace(posed, model, face.rest.get(), o.data());
        return lipGap(posed, face.features);
    });
    // Then each point of the lips' edges closes the gap that is left where it is: between
    // the middle and the corners the edges bow apart by up to a tenth of jawOpen's gap.
    Field close;
    makeField(close, layout, "mouthClose", closeScale);
    sealLipEdges(close, layout, face, jaw);

    expressions.clear();
    for (int n = 0; n < expressionCount; ++n) {
        const char* name = arkitExpressionNames[n];
        Expression e;
        e.name = name;
        e.summary = summaryOf(e.name);
        if (endsWith(e.name, "Right")) {
            const Expression* left = nullptr;
            for (const Expression& made : expressions)
                if (made.name == leftOf(e.name))
                    left = &made;
            e.offsets.assign(K, Vector3{0.0f, 0.0f, 0.0f});
            mirrorOffsets(e.offsets.data(), left->offsets.data(), pairs.partners.get(), K);
        } else {
            Field f = close;
            if (e.name != "mouthClose" &&
                !makeField(f, layout, e.name, e.name == "eyeBlinkLeft" ? blinkScale : 1.0)) {
                std::fprintf(stderr, "face-assets: no moves for the expression %s\n", name);
                std::exit(1);
            }
            toOffsets(e.offsets, f);
        }
        expressions.push_back(std::move(e));
    }
}

namespace {

// The file of a pose: comment lines, then "I DX DY DZ" with four decimals for every moved
// point.
std::string poseText(const std::vector<std::string>& comments, const Vector3* offsets, int32_t K) {
    std::string text;
    for (const std::string& c : comments)
        text += c.rfind("#", 0) == 0 ? c + "\n" : "# " + c + "\n";
    char line[128];
    for (int32_t i = 0; i < K; ++i) {
        const Vector3& d = offsets[i];
        if (d.x == 0.0f && d.y == 0.0f && d.z == 0.0f)
            continue;
        std::snprintf(line, sizeof line, "%d %.4f %.4f %.4f\n", i, d.x + 0.0f, d.y + 0.0f,
                      d.z + 0.0f);
        text += line;
    }
    return text;
}

const Expression* findExpression(const std::vector<Expression>& expressions, const char* name) {
    for (const Expression& e : expressions)
        if (e.name == name)
            return &e;
    return nullptr;
}

} // namespace

bool writeExpressionLibrary(const std::string& folder, const std::vector<Expression>& expressions,
                            int32_t K, std::string& error) {
    for (const Expression& e : expressions) {
        const std::string text =
            poseText({e.name + ": " + e.summary + " (made by face-assets --expressions)"},
                     e.offsets.data(), K);
        if (!writeFileContents((folder + "/" + e.name + ".txt").c_str(), text.data(), text.size(),
                               error))
            return false;
    }
    std::string readme =
        "# The default face's expression library\n\n"
        "Made by `build/tools/face-assets --expressions poses`, which measures each expression "
        "on the face as it writes it (docs/expressions.md); a test regenerates the folder and "
        "compares it byte for byte.\n\n"
        "- `NAME.txt`: " +
        std::to_string(expressions.size()) +
        " of the 52 expressions ARKit names, one pose file each (one moved control point a "
        "line, `I DX DY DZ`), left and right on the face's own sides.\n"
        "- " +
        missingExpressionNote +
        ".\n"
        "- `vrm/NAME.txt`: the 18 expression presets of VRM 1.0 avatars, each the mix of "
        "the expressions below, as a pose file of its own.\n\n"
        "| VRM preset | the mix |\n|---|---|\n";
    for (const ExpressionPreset& preset : expressionPresets) {
        std::vector<MixTerm> terms;
        std::string mix, listed; // as --mix takes it, and for people
        for (int t = 0; t < preset.termCount; ++t) {
            const Expression* e = findExpression(expressions, preset.terms[t].expression);
            terms.push_back({e->name, preset.terms[t].weight, nullptr, 0});
            char weight[96];
            std::snprintf(weight, sizeof weight, "%s%s=%g", t ? "," : "", e->name.c_str(),
                          preset.terms[t].weight);
            mix += weight;
            std::snprintf(weight, sizeof weight, "%s%s %g", t ? ", " : "", e->name.c_str(),
                          preset.terms[t].weight);
            listed += weight;
        }
        // mixOffsets takes moves; the expressions' offsets are one move a point.
        std::vector<std::vector<ControlPointMove>> moves(terms.size());
        for (size_t t = 0; t < terms.size(); ++t) {
            const Expression* e = findExpression(expressions, preset.terms[t].expression);
            for (int32_t i = 0; i < K; ++i)
                if (!(e->offsets[i] == Vector3{0.0f, 0.0f, 0.0f}))
                    moves[t].push_back({i, e->offsets[i]});
            terms[t].moves = moves[t].data();
            terms[t].moveCount = moves[t].size();
        }
        std::vector<Vector3> offsets(K);
        mixOffsets(offsets.data(), K, terms.data(), terms.size());
        const std::string text = poseText(
            mix.empty()
                ? std::vector<std::string>{std::string("VRM preset ") + preset.name +
                                           ": the face at rest (made by face-assets "
                                           "--expressions)"}
                : std::vector<std::string>{std::string("VRM preset ") + preset.name + ": " +
                                               listed + " (made by face-assets --expressions)",
                                           poseMixComment + mix},
            offsets.data(), K);
        if (!writeFileContents((folder + "/vrm/" + preset.name + ".txt").c_str(), text.data(),
                               text.size(), error))
            return false;
        readme += std::string("| ") + preset.name + " | " +
                  (listed.empty() ? std::string("nothing: the face at rest") : listed) + " |\n";
    }
    return writeFileContents((folder + "/README.md").c_str(), readme.data(), readme.size(), error);
}

namespace {

// One row of the table: what an expression promises, measured.
struct Promise {
    std::string measured; // what is measured, with the figure
    std::string aim;
    bool met;
};

std::string format(const char* pattern, double a, double b = 0.0, double c = 0.0) {
    char text[160];
    std::snprintf(text, sizeof text, pattern, a, b, c);
    return text;
}

// The pieces of a measure: the face at rest and posed, the features, and side (+1 for a
// left expression, −1 for a right one, 0 for one on both sides).
struct Measure {
    const PosedFace& rest;
    const PosedFace& face;
    const FaceFeatures& features;
    int side;
    Vector3 move(FaceFeature f) const { return featureMove(face, rest, features, f); }
    // The feature of the expression's own side and of the other side, from the left one's.
    FaceFeature own(FaceFeature left, int pairStep) const {
        return static_cast<FaceFeature>(side < 0 ? left + pairStep : left);
    }
    FaceFeature other(FaceFeature left, int pairStep) const {
        return static_cast<FaceFeature>(side < 0 ? left : left + pairStep);
    }
    // The other side's move as a share of the own side's, at a pair of features.
    double otherShare(FaceFeature left, int pairStep) const {
        const float own = length(move(this->own(left, pairStep)));
        return own > 0.0f ? length(move(other(left, pairStep))) / own : 1.0;
    }
};

// A promise about one side: the own feature moves as `check` says, the other by at most a
// tenth of it.
Promise sidedPromise(const Measure& m, FaceFeature left, int pairStep, const std::string& what,
                     bool met) {
    const double other = m.otherShare(left, pairStep);
    return {what + format("; the other side %.1f %% of it", 100.0 * other),
            "the other side at most 10 %", met && other <= 0.1};
}

} // namespace

int measureExpressions(FILE* out, std::vector<std::string>* misses,
                       const std::vector<Expression>& expressions, DefaultFace& face) {
    FaceModel& model = *face.model;
    const int32_t K = model.controlPointCount, N = model.renderVertexCount;
    const FaceFeatures& features = face.features;
    std::vector<Vector3> zero(K, Vector3{0.0f, 0.0f, 0.0f}), scaled(K);
    PosedFace rest, posed, mirrored, jawOnly;
    poseFace(rest, model, face.rest.get(), zero.data());
    const float restGap[2] = {lidGap(rest, features, 0), lidGap(rest, features, 1)};
    std::vector<int32_t> partners(N);
    std::vector<Vector3> restPositions(N);
    for (int32_t v = 0; v < N; ++v)
        restPositions[v] = model.attachments[v].restPosition;
    mirrorRenderVertices(partners.data(), restPositions.data(), N);
    std::vector<float> amplification(N);
    std::vector<Vector3> points(K);

    auto scaledBy = [&](const Expression& e, float w) {
        for (int32_t i = 0; i < K; ++i)
            scaled[i] = e.offsets[i] * w;
        return scaled.data();
    };
    poseFace(jawOnly, model, face.rest.get(),
             findExpression(expressions, "jawOpen")->offsets.data());

    std::fprintf(out, "| expression | measured at weight 1 | aim | mirror | thrown | drags from it "
                      "(0.1 / 1) | finite, −1 to 2 |\n|---|---|---|---|---|---|---|\n");
    int missed = 0;
    for (const Expression& e : expressions) {
        const std::string& n = e.name;
        const int side = endsWith(n, "Left") ? 1 : endsWith(n, "Right") ? -1 : 0;
        poseFace(posed, model, face.rest.get(), e.offsets.data());
        const Measure m{rest, posed, features, side};
        const int eye = side < 0 ? 1 : 0;
        auto gapShare = [&](int which) { return lidGap(posed, features, which) / restGap[which]; };
        Promise p{"", "", false};
        if (n.rfind("eyeBlink", 0) == 0) {
            const double own = gapShare(eye), other = gapShare(1 - eye);
            float pitchHalf, yawHalf, pitch, yaw;
            PosedFace half;
            poseFace(half, model, face.rest.get(), scaledBy(e, 0.5f));
            eyeTurn(pitchHalf, yawHalf, half, eye);
            eyeTurn(pitch, yaw, posed, eye);
            p = {
                format("lid gap %.1f %% of rest; the other eye's %.1f %%", 100 * own, 100 * other) +
                    format("; face-viewer's eye frame turns the eyeball %.0f° down at 0.5, %.0f° "
                           "at 1 (face-poser keeps it)",
                           -pitchHalf, -pitch),
                "gap within ±5 %, the other eye within 5 %",
                std::fabs(own) <= 0.05 && std::fabs(other - 1.0) <= 0.05};
        } else if (n.rfind("eyeWide", 0) == 0) {
            const double own = gapShare(eye), other = gapShare(1 - eye);
            p = {format("lid gap %.1f %% of rest; the other eye's %.1f %%", 100 * own, 100 * other),
                 "gap at least 120 %, the other within 5 %",
                 own >= 1.2 && std::fabs(other - 1.0) <= 0.05};
        } else if (n.rfind("eyeSquint", 0) == 0)
            p = sidedPromise(m, lidLeftLower, 2,
                             format("the lower lid rises %.3f", m.move(m.own(lidLeftLower, 2)).y),
                             m.move(m.own(lidLeftLower, 2)).y > 0.05f);
        else if (n.rfind("eyeLook", 0) == 0) {
            // The lids follow the gaze: the upper lid's middle up or down, both lids' middles
            // towards the nose (In) or the ear (Out). face-poser turns the eye itself by the
            // gaze weight; face-viewer's frame on the lids turns it as far as this says.
            float pitch, yaw, otherPitch, otherYaw;
            eyeTurn(pitch, yaw, posed, eye);
            eyeTurn(otherPitch, otherYaw, posed, 1 - eye);
            const FaceFeature upper = eye == 0 ? lidLeftUpper : lidRightUpper;
            const FaceFeature lower = eye == 0 ? lidLeftLower : lidRightLower;
            const Vector3 up = m.move(upper), low = m.move(lower);
            const bool vertical =
                n.find("Up") != std::string::npos || n.find("Down") != std::string::npos;
            // towards the ear is +x for the left eye (side +1), −x for the right
            const double earward = side * 0.5 * (up.x + low.x);
            const double follow = n.find("Up") != std::string::npos     ? up.y
                                  : n.find("Down") != std::string::npos ? -up.y
                                  : n.find("Out") != std::string::npos  ? earward
                                                                        : -earward;
            const double viewerTurn = vertical ? std::fabs(pitch) : std::fabs(yaw);
            const FaceFeature otherUpper = eye == 0 ? lidRightUpper : lidLeftUpper;
            const double otherMove = length(m.move(otherUpper));
            p = {format(vertical ? "the upper lid's middle follows %.3f; face-viewer's eye frame "
                                   "turns %.0f°; the other eye's lid moves %.3f"
                                 : "the lids' middles follow %.3f; face-viewer's eye frame turns "
                                   "%.0f°; the other eye's lid moves %.3f",
                        follow, viewerTurn, otherMove),
                 "the lids that way, the other eye still",
                 follow >= 0.05 && otherMove < 0.005 && std::fabs(otherPitch) < 0.05 &&
                     std::fabs(otherYaw) < 0.05};
        } else if (n == "jawOpen") {
            const Vector3 lip = m.move(lipLower);
            // The lower teeth: face-viewer's frame on the mouth corners and the lower lip's
            // middle turns them about the corners; face-poser's rig carries them by the jaw
            // pose's move of that middle point.
            const float viewerTeeth =
                propMove(posed, lowerTeeth, rest.positions[features.vertex[lipLower]]);
            const float poserTeeth = length(e.offsets[propSlotSources[1].third[0]]);
            const double drop = -lip.y / features.height;
            p = {format("the lower lip's middle drops %.1f %% of the face's height; the lower "
                        "teeth move %.0f %% as far in face-poser, %.0f %% on face-viewer's frame",
                        100 * drop, 100.0 * poserTeeth / length(lip),
                        100.0 * viewerTeeth / length(lip)),
                 "at least 8 %, the teeth along (at least 90 % in face-poser)",
                 drop >= 0.08 && poserTeeth >= 0.9f * length(lip)};
        } else if (n == "mouthClose") {
            std::vector<Vector3> both(K);
            for (int32_t i = 0; i < K; ++i)
                both[i] = e.offsets[i] + findExpression(expressions, "jawOpen")->offsets[i];
            PosedFace closed;
            poseFace(closed, model, face.rest.get(), both.data());
            const double share = lipGap(closed, features) / lipGap(jawOnly, features);
            p = {
                format("with jawOpen at 1, the lip gap is %.1f %% of jawOpen's alone", 100 * share),
                "at most 10 %", std::fabs(share) <= 0.1};
        } else if (n.rfind("jaw", 0) == 0) {
            const Vector3 c = m.move(chin);
            const double along = n == "jawForward" ? c.z : side * c.x;
            p = {format("the chin moves %.3f that way", along), "forward / to that side",
                 along > 0.1};
        } else if (n == "mouthFunnel" || n == "mouthPucker") {
            const double forward = 0.5 * (m.move(lipUpper).z + m.move(lipLower).z);
            const double narrower = m.move(mouthRight).x - m.move(mouthLeft).x;
            const double open = lipGap(posed, features);
            p = {format("the lips come forward %.3f, the mouth narrows %.3f, the lips open %.3f",
                        forward, narrower, open),
                 n == "mouthFunnel" ? "forward, narrower, parted" : "forward, narrower, closed",
                 forward > 0.2 && narrower > 0.2 &&
                     (n == "mouthFunnel" ? open > 0.2 : std::fabs(open) < 0.05)};
        } else if (n == "mouthLeft" || n == "mouthRight") {
            const double along = side * 0.5 * (m.move(mouthLeft).x + m.move(mouthRight).x);
            p = {format("the mouth's corners move %.3f that way", along), "to that side",
                 along > 0.2};
        } else if (n.rfind("mouthSmile", 0) == 0 || n.rfind("mouthFrown", 0) == 0 ||
                   n.rfind("mouthDimple", 0) == 0 || n.rfind("mouthStretch", 0) == 0) {
            const Vector3 c = m.move(m.own(mouthLeft, 1));
            const double outward = side * c.x;
            const bool smile = n.rfind("mouthSmile", 0) == 0, frown = n.rfind("mouthFrown", 0) == 0;
            const bool dimple = n.rfind("mouthDimple", 0) == 0;
            const std::string what =
                format("its corner moves up %.3f, out %.3f, back %.3f", c.y, outward, -c.z);
            const bool met = smile    ? c.y > 0.2f && outward > 0.2
                             : frown  ? c.y < -0.2f
                             : dimple ? -c.z > 0.2f && outward > 0.0
                                      : outward > 0.2;
            p = sidedPromise(m, mouthLeft, 1, what, met);
        } else if (n.rfind("mouthRoll", 0) == 0 || n.rfind("mouthShrug", 0) == 0) {
            const bool upper = n.find("Upper") != std::string::npos;
            const bool roll = n.rfind("mouthRoll", 0) == 0;
            const Vector3 lip = m.move(upper ? lipUpper : lipLower);
            p = {std::string(upper ? "the upper" : "the lower") +
                     format(roll ? " lip's middle moves back %.3f" : " lip's middle rises %.3f",
                            roll ? -lip.z : lip.y),
                 roll ? "back" : "up", roll ? lip.z < -0.2f : lip.y > 0.15f};
        } else if (n.rfind("mouthPress", 0) == 0) {
            const double upper = m.move(m.own(lipLeftUpper, 2)).y,
                         lower = m.move(m.own(lipLeftLower, 2)).y;
            p = sidedPromise(m, lipLeftUpper, 2,
                             format("on its side the upper lip comes down %.3f, the lower up %.3f",
                                    -upper, lower),
                             upper < -0.02 && lower > 0.02);
        } else if (n.rfind("mouthLowerDown", 0) == 0) {
            const double y = m.move(m.own(lipLeftLower, 2)).y;
            p = sidedPromise(m, lipLeftLower, 2, format("the lower lip drops %.3f on its side", -y),
                             y < -0.2);
        } else if (n.rfind("mouthUpperUp", 0) == 0) {
            const double y = m.move(m.own(lipLeftUpper, 2)).y;
            p = sidedPromise(m, lipLeftUpper, 2, format("the upper lip rises %.3f on its side", y),
                             y > 0.2);
        } else if (n.rfind("browDown", 0) == 0) {
            const double y = m.move(m.own(browLeftInner, 2)).y;
            p = sidedPromise(m, browLeftInner, 2, format("the inner brow lowers %.3f", -y),
                             y < -0.2);
        } else if (n == "browInnerUp") {
            const double left = m.move(browLeftInner).y, right = m.move(browRightInner).y;
            const double outer = m.move(browLeftOuter).y;
            p = {format("the inner brows rise %.3f and %.3f, the outer %.3f", left, right, outer),
                 "the inner up, more than the outer", left > 0.2 && right > 0.2 && outer < left};
        } else if (n.rfind("browOuterUp", 0) == 0) {
            const double y = m.move(m.own(browLeftOuter, 2)).y;
            p = sidedPromise(m, browLeftOuter, 2, format("the outer brow rises %.3f", y), y > 0.2);
        } else if (n == "cheekPuff") {
            const Vector3 left = m.move(cheekLeft), right = m.move(cheekRight);
            p = {format("the cheeks move out %.3f and %.3f", left.x, -right.x), "both out",
                 left.x > 0.1f && right.x < -0.1f};
        } else if (n.rfind("cheekSquint", 0) == 0) {
            const double y = m.move(m.own(underEyeLeft, 1)).y;
            p = sidedPromise(m, underEyeLeft, 1, format("the cheek under the eye rises %.3f", y),
                             y > 0.15);
        } else if (n.rfind("noseSneer", 0) == 0) {
            const double y = m.move(m.own(noseWingLeft, 1)).y;
            p = sidedPromise(m, noseWingLeft, 1, format("the nose's wing rises %.3f", y), y > 0.15);
        }

        // The mirror: a right expression's moves mirror its left's, at the control points
        // (exactly, as made) and at the features; one on both sides (jawLeft and mouthLeft
        // aside) mirrors itself. Over every render vertex the binding, which hangs a vertex
        // on the middle line on one side's sub-patch, departs more (the third figure).
        std::string mirror = "";
        bool mirrorMet = true;
        if (side < 0 || (side == 0 && n != "jawLeft" && n != "mouthLeft")) {
            if (side < 0)
                poseFace(mirrored, model, face.rest.get(),
                         findExpression(expressions, leftOf(n).c_str())->offsets.data());
            const PosedFace& image = side < 0 ? mirrored : posed;
            const double atFeatures = featureMirrorDeparture(posed, image, rest, features);
            const double everywhere = mirrorDeparture(posed, image, rest, partners.data(), N);
            mirror = format("%.2f %% (every vertex %.1f %%)", 100 * atFeatures, 100 * everywhere);
            mirrorMet = atFeatures <= 0.01;
        }

        // Thrown vertices: the expression's own moves, and drags from it.
        const float thrown = poseThrow(posed, rest, model, e.offsets.data());
        for (int32_t i = 0; i < K; ++i)
            points[i] = face.rest[i] + e.offsets[i];
        computeAmplification(amplification.data(), nullptr, model, points.data(),
                             smallAmplificationStep);
        const float small = *std::max_element(amplification.begin(), amplification.end());
        computeAmplification(amplification.data(), nullptr, model, points.data(),
                             unitAmplificationStep);
        const float unit = *std::max_element(amplification.begin(), amplification.end());

        // Finite at every weight from −1 to 2, in steps of 0.1.
        bool finite = true;
        PosedFace weighted;
        for (int step = -10; step <= 20 && finite; ++step) {
            poseFace(weighted, model, face.rest.get(), scaledBy(e, step / 10.0f));
            finite = weighted.finite;
        }

        const bool met = p.met && mirrorMet && thrown <= 1.5f && small <= 1.5f && finite;
        std::fprintf(out, "| %s | %s | %s | %s | %.3f | %.3f / %.3f | %s |\n", n.c_str(),
                     p.measured.c_str(), p.aim.c_str(), mirror.c_str(), thrown, small, unit,
                     finite ? "yes" : "no");
        if (!met) {
            ++missed;
            if (misses != nullptr)
                misses->push_back(n);
        }
    }
    return missed;
}
