// Render and control meshes of the face (see mesh.h).
#include "tools/assets/mesh.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

double smoothstep01(double t) {
    t = std::min(1.0, std::max(0.0, t));
    return t * t * (3.0 - 2.0 * t);
}

int addVertex(FaceMesh& mesh, double X, double Y) {
    mesh.domain.push_back({X, Y});
    mesh.positions.push_back(facePoint(X, Y));
    return static_cast<int>(mesh.positions.size()) - 1;
}

// Stops the generator when a triangle of the layout is folded in the domain: a layout
// error that must not reach the data files.
void checkCounterClockwise(const FaceMesh& mesh, const char* what) {
    for (const Triangle& t : mesh.triangles) {
        const DomainPoint& a = mesh.domain[t.index[0]];
        const DomainPoint& b = mesh.domain[t.index[1]];
        const DomainPoint& c = mesh.domain[t.index[2]];
        const double area = (b.X - a.X) * (c.Y - a.Y) - (b.Y - a.Y) * (c.X - a.X);
        if (!(area > 0.0)) {
            std::fprintf(stderr, "face-assets: %s triangle at (%.3f, %.3f) is folded\n", what, a.X,
                         a.Y);
            std::exit(1);
        }
    }
}

// ---- Render mesh -----------------------------------------------------------------------

// One stretch of a graded 1-D grid: from the previous end to `end`, with cells of about
// spacingFactor times the base spacing.
struct GridSegment {
    double end;
    double spacingFactor;
};

// Grid positions from start through every segment's end (each end hit exactly); each
// segment is divided evenly into as many cells as its length needs, at least one.
std::vector<double> gradedPositions(double start, const GridSegment* segments, int count,
                                    double spacing) {
    std::vector<double> positions{start};
    for (int s = 0; s < count; ++s) {
        const double from = positions.back(), to = segments[s].end;
        const int cells =
            std::max(1, static_cast<int>(std::lround(std::fabs(to - from) /
                                                     (spacing * segments[s].spacingFactor))));
        for (int i = 1; i < cells; ++i)
            positions.push_back(from + (to - from) * i / cells);
        positions.push_back(to);
    }
    return positions;
}

// Band on either side of the lip line with extra rows, where the lips roll inwards.
constexpr double lipRollRows = 0.12;

// How far from the slit the eye opening reaches into the grid (model units).
constexpr double eyeWarpReach = 1.3;

// Moves a grid point near an eye's slit so that the slit opens into the eye's outline:
// points above the slit go up by the upper lid's rise, points below go down by the lower
// lid's drop, both fading to nothing eyeWarpReach away. A point on the slit itself goes
// to the upper lid when upperCopy is set and to the lower lid otherwise.
double openEyeSlit(double X, double Y, bool upperCopy) {
    const double ax = std::fabs(X);
    if (ax <= eyeInnerX || ax >= eyeOuterX)
        return Y;
    const double above = Y - eyeSlitY;
    if (above > 0.0 || (above == 0.0 && upperCopy))
        return Y + (upperLidY(X) - eyeSlitY) * (1.0 - smoothstep01(above / eyeWarpReach));
    return Y - (eyeSlitY - lowerLidY(X)) * (1.0 - smoothstep01(-above / eyeWarpReach));
}

} // namespace

void buildRenderMesh(FaceMesh& mesh, double spacing) {
    mesh = FaceMesh();
    // Columns: finest across the eyes and mouth, coarser towards the ears; the eye and
    // mouth corners fall on columns.
    const GridSegment columnSegments[] = {
        {eyeInnerX, 1.0}, {mouthCornerX, 1.0}, {eyeOuterX, 1.0}, {6.5, 1.25}, {sideX, 1.8}};
    const std::vector<double> half = gradedPositions(0.0, columnSegments, 5, spacing);
    std::vector<double> columns;
    for (size_t i = half.size() - 1; i > 0; --i)
        columns.push_back(-half[i]);
    columns.insert(columns.end(), half.begin(), half.end());

    // Rows above the lip line at fixed heights, finest around the lips; the eye slit and
    // the lip line are rows.
    const GridSegment upperSegments[] = {{eyeSlitY + eyeWarpReach, 1.4},
                                         {eyeSlitY, 1.0},
                                         {eyeSlitY - eyeWarpReach, 1.0},
                                         {-1.0, 1.0},
                                         {mouthY + 0.8, 0.8},
                                         {mouthY + lipRollRows, 0.55},
                                         {mouthY, 0.2}};
    const std::vector<double> upperRows = gradedPositions(topY, upperSegments, 7, spacing);
    // Rows below the lip line as fractions of the way down to the lower edge (whose
    // height varies with X); fractions measured in units of the middle's span.
    const double middleSpan = mouthY - chinBottomY;
    const GridSegment lowerSegments[] = {{lipRollRows / middleSpan, 0.2}, {0.2, 0.55}, {1.0, 1.0}};
    const std::vector<double> lowerFractions =
        gradedPositions(0.0, lowerSegments, 3, spacing / middleSpan);

    const int columnCount = static_cast<int>(columns.size());
    const int rowCount = static_cast<int>(upperRows.size() + lowerFractions.size() - 1);
    auto rowY = [&](int row, double X) {
        if (row < static_cast<int>(upperRows.size()))
            return upperRows[row];
        const double t = lowerFractions[row - upperRows.size() + 1];
        return mouthY + t * (bottomY(X) - mouthY);
    };

    // Vertices row by row. On the eye slits and the lip line, vertices between the corners
    // get a second copy (appended after their row): the upper copy belongs to the
    // triangles above, the lower copy to those below.
    std::vector<int> upperCopy(static_cast<size_t>(rowCount) * columnCount);
    std::vector<int> lowerCopy(upperCopy.size());
    for (int r = 0; r < rowCount; ++r) {
        for (int c = 0; c < columnCount; ++c) {
            const double X = columns[c], Y = rowY(r, X);
            upperCopy[r * columnCount + c] = lowerCopy[r * columnCount + c] =
                addVertex(mesh, X, openEyeSlit(X, Y, true));
        }
        for (int c = 0; c < columnCount; ++c) {
            const double X = columns[c], Y = rowY(r, X), ax = std::fabs(X);
            const bool eyeCut = Y == eyeSlitY && ax > eyeInnerX && ax < eyeOuterX;
            const bool lipCut = Y == mouthY && ax < mouthCornerX;
            if (eyeCut || lipCut)
                lowerCopy[r * columnCount + c] = addVertex(mesh, X, openEyeSlit(X, Y, false));
        }
    }

    // Two triangles per grid cell; the diagonal is mirrored between the two halves so
    // that the mesh is symmetric. (a b / c d: a top left, d bottom right.)
    for (int r = 0; r + 1 < rowCount; ++r) {
        for (int c = 0; c + 1 < columnCount; ++c) {
            const int a = lowerCopy[r * columnCount + c], b = lowerCopy[r * columnCount + c + 1];
            const int cc = upperCopy[(r + 1) * columnCount + c];
            const int d = upperCopy[(r + 1) * columnCount + c + 1];
            if (columns[c + 1] <= 0.0) {
                mesh.triangles.push_back({{a, cc, d}});
                mesh.triangles.push_back({{a, d, b}});
            } else {
                mesh.triangles.push_back({{a, cc, b}});
                mesh.triangles.push_back({{b, cc, d}});
            }
        }
    }
    checkCounterClockwise(mesh, "render");
}

// ---- Control mesh ----------------------------------------------------------------------

namespace {

// How far the lower lip's middle control point sits below the upper lip's: the two would
// otherwise project to the same pixel, and picking takes the lower index (the upper lip).
constexpr double lowerLipMiddleDrop = 0.1;

// A control point of a row, listed for the negative-x half from the side inwards
// (x = |X|; x = 0 is the centre line, present in most rows). On the lip line and the eye
// slits a point may belong to one side of the cut only, or have a copy on each side.
enum class Side { both, aboveOnly, belowOnly, cut };
struct RowPoint {
    double x, y;
    Side side;
    double lowerY; // the copy below a cut
};
RowPoint at(double x, double y) { return {x, y, Side::both, y}; }
RowPoint aboveAt(double x, double y) { return {x, y, Side::aboveOnly, y}; }
RowPoint belowAt(double x, double y) { return {x, y, Side::belowOnly, y}; }
RowPoint cutAt(double x, double y, double lowerY) { return {x, y, Side::cut, lowerY}; }

// A row of the finished mesh from left to right, as the strip above it sees it (`up`)
// and as the strip below sees it (`down`); the two differ only along a cut.
struct Row {
    std::vector<int> up, down;
};

// Builds the full row (the half mirrored) and adds its points to the mesh, and the side of
// the cut of each point to sides (+1 upper edge alone, −1 lower, 0 both).
Row makeRow(FaceMesh& mesh, std::vector<int>& sides, const std::vector<RowPoint>& half) {
    Row row;
    auto add = [&](double X, const RowPoint& p) {
        const int upper = addVertex(mesh, X, p.y);
        sides.push_back(p.side == Side::aboveOnly || p.side == Side::cut ? 1
                        : p.side == Side::belowOnly                      ? -1
                                                                         : 0);
        if (p.side != Side::belowOnly)
            row.up.push_back(upper);
        if (p.side == Side::both || p.side == Side::belowOnly)
            row.down.push_back(upper);
        if (p.side == Side::cut) {
            row.down.push_back(addVertex(mesh, X, p.lowerY));
            sides.push_back(-1);
        }
    };
    for (const RowPoint& p : half)
        add(-p.x, p);
    for (size_t i = half.size(); i-- > 0;)
        if (half[i].x > 0.0)
            add(half[i].x, half[i]);
    return row;
}

double distance(const FaceMesh& mesh, int a, int b) {
    const Point3 d = mesh.positions[a] - mesh.positions[b];
    return std::sqrt(dot(d, d));
}

// Triangulates the strip between two rows (above over below): the left half from the
// side to the centre, each step closing the shorter diagonal, then the same triangles
// mirrored for the right half. At least one of the rows has a centre point.
void stitchRows(FaceMesh& mesh, const std::vector<int>& above, const std::vector<int>& below) {
    const int na = static_cast<int>(above.size()), nb = static_cast<int>(below.size());
    const int lastA = (na - 1) / 2, lastB = (nb - 1) / 2; // centre, or last left point
    const bool centreA = na % 2 == 1, centreB = nb % 2 == 1;
    // Strip vertices as (row 0 = above / 1 = below, position), mirrored by position.
    struct Corner {
        int row, position;
    };
    std::vector<Corner> left; // triples
    int i = 0, j = 0;
    while (i < lastA || j < lastB) {
        bool advanceAbove;
        if (i == lastA)
            advanceAbove = false;
        else if (j == lastB)
            advanceAbove = true;
        else
            advanceAbove =
                distance(mesh, above[i + 1], below[j]) <= distance(mesh, above[i], below[j + 1]);
        if (advanceAbove) {
            left.insert(left.end(), {{0, i}, {1, j}, {0, i + 1}});
            ++i;
        } else {
            left.insert(left.end(), {{0, i}, {1, j}, {1, j + 1}});
            ++j;
        }
    }
    auto index = [&](const Corner& c, bool mirrored) {
        if (c.row == 0)
            return above[mirrored ? na - 1 - c.position : c.position];
        return below[mirrored ? nb - 1 - c.position : c.position];
    };
    for (size_t k = 0; k < left.size(); k += 3)
        mesh.triangles.push_back(
            {{index(left[k], false), index(left[k + 1], false), index(left[k + 2], false)}});
    for (size_t k = 0; k < left.size(); k += 3) // mirroring reverses the turning sense
        mesh.triangles.push_back(
            {{index(left[k], true), index(left[k + 2], true), index(left[k + 1], true)}});
    // Close the gap in the middle when only one row has a centre point.
    if (centreA && !centreB)
        mesh.triangles.push_back({{above[lastA], below[lastB], below[lastB + 1]}});
    else if (!centreA && centreB)
        mesh.triangles.push_back({{above[lastA], below[lastB], above[lastA + 1]}});
}

} // namespace

void buildControlMesh(ControlMesh& control) {
    control = ControlMesh();
    FaceMesh points; // in row order; renumbered below so that the fixed roles fall in place

    // Eye rim points at a quarter, half and three quarters of the way between the corners.
    auto rimX = [](double s) { return eyeInnerX + (eyeOuterX - eyeInnerX) * s; };
    auto eyeCut = [&](double s) {
        const double x = rimX(s);
        return cutAt(x, upperLidY(x), lowerLidY(x));
    };
    auto upperLipBorder = [](double x) { return at(x, mouthY + upperLipHeight(x)); };
    auto lowerLipBorder = [](double x) { return at(x, mouthY - lowerLipHeight(x)); };
    auto onBottom = [](double x) { return at(x, bottomY(x)); };
    const double s = sideX;

    const std::vector<std::vector<RowPoint>> rows = {
        // hairline
        {at(s, topY), at(8.0, topY), at(5.2, topY), at(2.6, topY), at(0, topY)},
        // forehead
        {at(s, 6.1), at(8.1, 6.1), at(5.4, 6.1), at(2.7, 6.1), at(0, 6.1)},
        // above the brows
        {at(s, 4.35), at(8.4, 4.35), at(6.1, 4.35), at(4.4, 4.35), at(2.8, 4.35), at(1.35, 4.35),
         at(0, 4.35)},
        // brow ridge
        {at(s, 3.1), at(8.6, 3.1), at(6.3, 3.15), at(5.0, 3.2), at(3.9, 3.3), at(2.85, 3.3),
         at(1.85, 3.15), at(0.85, 3.0), at(0, 2.95)},
        // upper lid crease
        {at(s, 2.55), at(8.4, 2.55), at(6.0, 2.5), at(4.85, 2.45), at(3.9, 2.7), at(3.2, 2.78),
         at(2.5, 2.72), at(1.6, 2.5), at(0.75, 2.4), at(0, 2.35)},
        // eye corners and lid rims
        {at(s, eyeSlitY), at(8.6, eyeSlitY), at(6.5, eyeSlitY), at(5.45, eyeSlitY),
         at(eyeOuterX, eyeSlitY), eyeCut(0.75), eyeCut(0.5), eyeCut(0.25), at(eyeInnerX, eyeSlitY),
         at(0.9, eyeSlitY), at(0, eyeSlitY)},
        // lower lid
        {at(s, 1.0), at(8.5, 1.0), at(6.2, 1.05), at(5.0, 1.2), at(4.15, 0.95), at(3.4, 0.85),
         at(2.6, 0.9), at(1.85, 1.05), at(0.9, 1.1), at(0, 1.1)},
        // cheeks and the middle of the nose
        {at(s, -0.3), at(8.4, -0.3), at(6.2, -0.3), at(4.6, -0.3), at(3.3, -0.3), at(2.2, -0.3),
         at(1.3, -0.3), at(0.55, -0.3), at(0, -0.3)},
        // nose tip and wings
        {at(s, -1.5), at(8.5, -1.5), at(6.3, -1.5), at(4.5, -1.5), at(3.0, -1.5), at(1.95, -1.6),
         at(1.1, -1.9), at(0.5, -1.45), at(0, -1.5)},
        // nose base
        {at(s, -2.55), at(8.6, -2.55), at(6.4, -2.55), at(4.7, -2.55), at(3.3, -2.55),
         at(2.0, -2.6), at(1.2, -2.45), at(0.45, -2.4), at(0, -2.65)},
        // upper lip: its vermilion border between the corners
        {at(s, -3.7), at(8.7, -3.7), at(6.5, -3.75), at(4.7, -3.85), at(3.3, -3.95),
         upperLipBorder(1.95), upperLipBorder(1.2), upperLipBorder(0.42), upperLipBorder(0)},
        // lip line: the corners, each lip's own points, and the middle of each lip. The
        // lower lip's line has one point near each corner and its middle point, so that
        // pulling the middle point down opens nearly the whole mouth. That point sits a
        // hair below the upper lip's, so that a click just below the line picks it.
        {at(s, mouthY), at(8.4, mouthY), at(6.3, mouthY), at(4.6, mouthY), at(3.3, mouthY),
         at(mouthCornerX, mouthY), belowAt(1.5, mouthY), aboveAt(1.2, mouthY),
         cutAt(0, mouthY, mouthY - lowerLipMiddleDrop)},
        // lower lip's border; in the middle the row dips to the chin, leaving room for
        // the lower lip's middle point to be pulled down without folding the lip
        {at(s, -5.5), at(8.5, -5.45), at(6.4, -5.45), at(4.7, -5.5), at(3.4, -5.45),
         lowerLipBorder(1.7), at(0, -6.9)},
        // chin
        {at(s, -6.05), at(8.6, -6.1), at(6.6, -6.35), at(4.9, -6.6), at(3.4, -6.8), at(2.0, -7.25),
         at(0.95, -7.65), at(0, -7.8)},
        // lower edge
        {onBottom(s), onBottom(9.0), onBottom(6.6), onBottom(4.6), onBottom(2.9), onBottom(1.4),
         onBottom(0)},
    };
    constexpr int eyeRow = controlRow::eyes, mouthRow = controlRow::mouth;

    std::vector<Row> built;
    std::vector<int> sides, rowOf;
    for (const std::vector<RowPoint>& half : rows) {
        built.push_back(makeRow(points, sides, half));
        rowOf.resize(points.positions.size(), static_cast<int>(built.size()) - 1);
    }

    // Points of the lip line between the corners (corners included), and of the eyes'
    // rims (corners included).
    std::vector<bool> onLipLine(points.positions.size(), false), onEyeRim(onLipLine);
    for (const std::vector<int>* side : {&built[mouthRow].up, &built[mouthRow].down})
        for (int v : *side)
            onLipLine[v] = std::fabs(points.domain[v].X) <= mouthCornerX;
    for (const std::vector<int>* side : {&built[eyeRow].up, &built[eyeRow].down})
        for (int v : *side) {
            const double ax = std::fabs(points.domain[v].X);
            onEyeRim[v] = ax >= eyeInnerX && ax <= eyeOuterX;
        }

    // Triangles strip by strip, then sorted into skin, eyelids and lips: eyelid triangles
    // touch an eye's rim, lip triangles touch the lip line and lie between the corners.
    std::vector<int> kind; // 0 skin, 1 eyelid, 2 lip
    for (size_t r = 0; r + 1 < built.size(); ++r)
        stitchRows(points, built[r].down, built[r + 1].up);
    for (const Triangle& t : points.triangles) {
        bool lipLine = false, withinMouth = true, eyeRim = false;
        for (int v : t.index) {
            lipLine = lipLine || onLipLine[v];
            withinMouth = withinMouth && std::fabs(points.domain[v].X) <= mouthCornerX;
            eyeRim = eyeRim || onEyeRim[v];
        }
        kind.push_back(lipLine && withinMouth ? 2 : eyeRim ? 1 : 0);
    }
    checkCounterClockwise(points, "control");

    // Fixed roles: find each by its row, position and side of the cut, then give it its
    // index; the other points fill the remaining indices in row order.
    const int pointCount = static_cast<int>(points.positions.size());
    auto find = [&](int row, double X, bool below) {
        for (int v : below ? built[row].down : built[row].up)
            if (std::fabs(points.domain[v].X - X) < 1e-9)
                return v;
        std::fprintf(stderr, "face-assets: no control point at X = %.3f in row %d\n", X, row);
        std::exit(1);
    };
    struct RoleAssignment {
        int index, point;
    };
    const RoleAssignment roles[] = {
        {controlRole::leftEyeInner, find(eyeRow, -eyeInnerX, false)},
        {controlRole::leftEyeOuter, find(eyeRow, -eyeOuterX, false)},
        {controlRole::leftUpperLid[0], find(eyeRow, -rimX(0.25), false)},
        {controlRole::leftUpperLid[1], find(eyeRow, -rimX(0.5), false)},
        {controlRole::leftUpperLid[2], find(eyeRow, -rimX(0.75), false)},
        {controlRole::rightEyeInner, find(eyeRow, eyeInnerX, false)},
        {controlRole::rightEyeOuter, find(eyeRow, eyeOuterX, false)},
        {controlRole::rightUpperLid[0], find(eyeRow, rimX(0.25), false)},
        {controlRole::rightUpperLid[1], find(eyeRow, rimX(0.5), false)},
        {controlRole::rightUpperLid[2], find(eyeRow, rimX(0.75), false)},
        {controlRole::leftMouthCorner, find(mouthRow, -mouthCornerX, false)},
        {controlRole::rightMouthCorner, find(mouthRow, mouthCornerX, false)},
        {controlRole::upperLipMiddle, find(mouthRow, 0.0, false)},
        {controlRole::lowerLipMiddle, find(mouthRow, 0.0, true)},
    };
    std::vector<int> newIndex(pointCount, -1);
    std::vector<bool> taken(pointCount, false);
    for (const RoleAssignment& role : roles) {
        newIndex[role.point] = role.index;
        taken[role.index] = true;
    }
    int next = 0;
    for (int p = 0; p < pointCount; ++p) {
        if (newIndex[p] >= 0)
            continue;
        while (taken[next])
            ++next;
        newIndex[p] = next++;
    }

    FaceMesh& mesh = control.mesh;
    mesh.domain.resize(pointCount);
    mesh.positions.resize(pointCount);
    control.row.resize(pointCount);
    control.side.resize(pointCount);
    for (int p = 0; p < pointCount; ++p) {
        mesh.domain[newIndex[p]] = points.domain[p];
        mesh.positions[newIndex[p]] = points.positions[p];
        control.row[newIndex[p]] = rowOf[p];
        control.side[newIndex[p]] = sides[p];
    }
    for (int k = 0; k <= 2; ++k) {
        if (k == 1)
            control.firstLidOrLipTriangle = static_cast<int>(mesh.triangles.size());
        if (k == 2)
            control.firstLipTriangle = static_cast<int>(mesh.triangles.size());
        for (size_t t = 0; t < points.triangles.size(); ++t)
            if (kind[t] == k) {
                const Triangle& old = points.triangles[t];
                mesh.triangles.push_back(
                    {{newIndex[old.index[0]], newIndex[old.index[1]], newIndex[old.index[2]]}});
            }
    }
}
