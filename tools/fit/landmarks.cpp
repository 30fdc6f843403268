#include "tools/fit/landmarks.h"

#include "tools/fit/face_fit.h"

#include "io/file_contents.h"
#include "io/messages.h"
#include "io/text_scanner.h"
#include "tools/fit/surface_query.h"

#include <Eigen/Dense>
#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

// A token as a message quotes it: at most 40 characters, bytes that are not printable ASCII
// as '?', so that the message stays one readable line.
std::string quoted(const char* text, size_t length) {
    constexpr size_t shown = 40;
    std::string q = "\"";
    for (size_t i = 0; i < length && i < shown; ++i)
        q += text[i] >= ' ' && text[i] <= '~' ? text[i] : '?';
    return q + (length > shown ? "...\"" : "\"");
}

// Levenshtein distance, for naming the landmark a misspelt name meant.
size_t editDistance(const char* a, size_t na, const char* b) {
    const size_t nb = std::strlen(b);
    std::vector<size_t> row(nb + 1);
    for (size_t j = 0; j <= nb; ++j)
        row[j] = j;
    for (size_t i = 1; i <= na; ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= nb; ++j) {
            const size_t up = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1])});
            diagonal = up;
        }
    }
    return row[nb];
}

std::string unknownName(const char* text, size_t length) {
    // Names longer than any landmark's are not compared letter by letter.
    int32_t nearest = 0;
    size_t best = SIZE_MAX;
    if (length <= 64)
        for (int32_t i = 0; i < landmarkCount; ++i) {
            const size_t d = editDistance(text, length, faceFeatureNames[i]);
            if (d < best)
                best = d, nearest = i;
        }
    std::string line = quoted(text, length) + " is not a landmark (";
    if (best <= 3)
        line += std::string("nearest ") + faceFeatureNames[nearest] + "; ";
    line += "the 18 are";
    for (int32_t i = 0; i < landmarkCount; ++i)
        line += std::string(i ? ", " : " ") + faceFeatureNames[i];
    return line + ")";
}

// The mirror partner of a landmark: the same one on the other side, −1 on the middle.
int32_t partnerOf(int32_t i) {
    const FaceFeature partner = mirrorFeature(FaceFeature(i));
    return partner == FaceFeature(i) ? -1 : int32_t(partner);
}

// +1 for a landmark of the face's left, −1 of its right, 0 on the middle.
int32_t sideOf(int32_t i) {
    switch (FaceFeature(i)) {
    case eyeLeftOuter:
    case eyeLeftInner:
    case lidLeftUpper:
    case lidLeftLower:
    case browLeftInner:
    case browLeftOuter:
    case mouthLeft:
        return 1;
    case eyeRightOuter:
    case eyeRightInner:
    case lidRightUpper:
    case lidRightLower:
    case browRightInner:
    case browRightOuter:
    case mouthRight:
        return -1;
    default:
        return 0;
    }
}

using Point = Eigen::Vector3d;

Point toPoint(const Vector3& v) { return Point(v.x, v.y, v.z); }

// The mean of the given landmarks among indices[0..count−1]; false when none is given.
bool meanOf(Point& mean, const Landmarks& l, const FaceFeature* indices, int32_t count) {
    mean.setZero();
    int32_t n = 0;
    for (int32_t k = 0; k < count; ++k)
        if (l.given[indices[k]]) {
            mean += toPoint(l.points[indices[k]]);
            ++n;
        }
    if (n > 0)
        mean /= double(n);
    return n > 0;
}

const FaceFeature leftEyeMarks[] = {eyeLeftOuter, eyeLeftInner, lidLeftUpper, lidLeftLower};
const FaceFeature rightEyeMarks[] = {eyeRightOuter, eyeRightInner, lidRightUpper, lidRightLower};
const FaceFeature mouthMarks[] = {mouthLeft, mouthRight, lipUpper, lipLower};
const FaceFeature chinOnly[] = {chin};
const FaceFeature noseOnly[] = {noseTip};

// The middle of the face below the eyes: the mouth's, else the chin's, else the nose tip's.
bool lowerMiddle(Point& lower, const Landmarks& l) {
    return meanOf(lower, l, mouthMarks, 4) || meanOf(lower, l, chinOnly, 1) ||
           meanOf(lower, l, noseOnly, 1);
}

// Landmarks' text position for messages: "nose_tip (1 2 3)".
std::string named(const Landmarks& l, int32_t i) {
    char text[160];
    std::snprintf(text, sizeof text, "%s (%.6g %.6g %.6g)", faceFeatureNames[i],
                  double(l.points[i].x), double(l.points[i].y), double(l.points[i].z));
    return text;
}

} // namespace

bool checkLandmarkSides(const Landmarks& l, std::string& problem, int32_t& culprit) {
    // The left-right axis: the mean difference of the pairs given, else of the sides' means.
    Point axis = Point::Zero(), middle = Point::Zero();
    double width = 0.0;
    int32_t pairs = 0;
    for (int32_t i = 0; i < landmarkCount; ++i)
        if (sideOf(i) > 0 && l.given[i] && l.given[partnerOf(i)]) {
            const Point a = toPoint(l.points[i]), b = toPoint(l.points[partnerOf(i)]);
            axis += a - b;
            middle += 0.5 * (a + b);
            width += (a - b).norm();
            ++pairs;
        }
    if (pairs == 0) {
        Point left = Point::Zero(), right = Point::Zero();
        int32_t nLeft = 0, nRight = 0;
        for (int32_t i = 0; i < landmarkCount; ++i)
            if (l.given[i] && sideOf(i) != 0) {
                (sideOf(i) > 0 ? left : right) += toPoint(l.points[i]);
                ++(sideOf(i) > 0 ? nLeft : nRight);
            }
        if (nLeft == 0 || nRight == 0)
            return true; // one side alone: nothing to keep apart
        left /= double(nLeft);
        right /= double(nRight);
        axis = left - right;
        middle = 0.5 * (left + right);
        width = axis.norm();
        pairs = 1;
    }
    middle /= double(pairs);
    width /= double(pairs);
    const double axisLength = axis.norm();
    if (!(axisLength > 0.0) || !(width > 0.0)) {
        for (culprit = 0; culprit < landmarkCount && !(l.given[culprit] && sideOf(culprit));)
            ++culprit;
        problem = "the face's left and right landmarks lie on one another: nothing parts its "
                  "two sides";
        return false;
    }
    axis /= axisLength;
    // Every landmark of a side on that side of the mid-plane.
    for (int32_t i = 0; i < landmarkCount; ++i)
        if (l.given[i] && sideOf(i) != 0 &&
            double(sideOf(i)) * axis.dot(toPoint(l.points[i]) - middle) <
                -double(sideTolerance) * width) {
            culprit = i;
            problem = named(l, i) + " lies on the face's " + (sideOf(i) > 0 ? "right" : "left") +
                      " of the mid-plane between its left and right landmarks, across from the "
                      "others of its side";
            return false;
        }
    // Left and right swapped as a whole: the nose tip behind the face.
    Point leftEyeMean, rightEyeMean, lower, nose;
    if (meanOf(leftEyeMean, l, leftEyeMarks, 4) && meanOf(rightEyeMean, l, rightEyeMarks, 4) &&
        (meanOf(lower, l, mouthMarks, 4) || meanOf(lower, l, chinOnly, 1)) &&
        meanOf(nose, l, noseOnly, 1)) {
        const Point eyes = 0.5 * (leftEyeMean + rightEyeMean);
        const Point left = leftEyeMean - rightEyeMean;
        const Point front = left.cross(eyes - lower);
        const double frontLength = front.norm();
        if (frontLength > 0.0 && front.dot(nose - eyes) / frontLength < -0.1 * left.norm()) {
            for (culprit = 0; !l.given[culprit] || sideOf(culprit) <= 0;)
                ++culprit;
            problem = "the landmarks named left lie on the face's right: with the eyes above "
                      "the mouth, the nose tip is behind the face (the face's own left is +x "
                      "when it looks along +z with +y up: the viewer's right)";
            return false;
        }
    }
    return true;
}

bool landmarksPlaceFace(const Landmarks& l, std::string& problem) {
    Point left, right, lower;
    if (!meanOf(left, l, leftEyeMarks, 4) || !meanOf(right, l, rightEyeMarks, 4) ||
        !lowerMiddle(lower, l)) {
        int32_t given = 0;
        for (bool g : l.given)
            given += g;
        problem = "too few landmarks to place the face (" + std::to_string(given) +
                  " given): it needs one of each eye (a corner or a lid) and one of the mouth's "
                  "corners, the lips, the nose tip or the chin";
        return false;
    }
    const Point across = left - right;
    const double eyes = across.norm();
    const double off = eyes > 0.0 ? across.cross(lower - right).norm() / eyes : 0.0;
    if (!(eyes > 0.0) || !(off >= double(minimumFaceDepth) * eyes)) {
        problem = "the landmarks cannot place the face: the eyes and the mouth (or nose tip or "
                  "chin) lie on one line";
        return false;
    }
    return true;
}

bool readLandmarkFile(Landmarks& landmarks, const char* fileName, std::string& error) {
    FileContents contents;
    return openFileContents(contents, fileName, error) &&
           readLandmarkBuffer(landmarks, contents.data, contents.size, fileName, error);
}

bool readLandmarkBuffer(Landmarks& landmarks, const char* data, size_t size, const char* fileName,
                        std::string& error) {
    const char* cursor = data;
    const char* const end = data + size;
    Landmarks read;
    std::vector<LineToken> tokens;
    long line = 0;
    const char *start = nullptr, *stop = nullptr;
    while (nextContentLine(cursor, end, line, start, stop)) {
        lineTokens(tokens, start, stop);
        if (tokens.size() != 4)
            return lineError(error, fileName, line,
                             "expected \"NAME X Y Z\", found " + std::to_string(tokens.size()) +
                                 (tokens.size() == 1 ? " field" : " fields"));
        int32_t which = -1;
        for (int32_t i = 0; i < landmarkCount && which < 0; ++i)
            if (tokens[0].length == std::strlen(faceFeatureNames[i]) &&
                std::memcmp(tokens[0].text, faceFeatureNames[i], tokens[0].length) == 0)
                which = i;
        if (which < 0)
            return lineError(error, fileName, line, unknownName(tokens[0].text, tokens[0].length));
        if (read.given[which])
            return lineError(error, fileName, line,
                             std::string(faceFeatureNames[which]) +
                                 " is given twice (first on line " +
                                 std::to_string(read.line[which]) + ")");
        float value[3];
        for (int k = 0; k < 3; ++k) {
            const LineToken& t = tokens[size_t(k) + 1];
            const std::string what = std::string(1, "xyz"[k]) + " of " + faceFeatureNames[which];
            switch (parseRealToken(value[k], t.text, t.length)) {
            case RealTokenStatus::ok:
                break;
            case RealTokenStatus::noNumber:
                return lineError(error, fileName, line,
                                 quoted(t.text, t.length) + " is not a number (" + what + ")");
            case RealTokenStatus::notFinite:
                return lineError(error, fileName, line,
                                 quoted(t.text, t.length) + " is not a finite 32-bit float (" +
                                     what + ")");
            case RealTokenStatus::tooLong:
                return lineError(error, fileName, line,
                                 "a token of " + std::to_string(t.length) +
                                     " characters is longer than " +
                                     std::to_string(maxRealTokenLength) + " (" + what + ")");
            }
        }
        read.points[which] = {value[0], value[1], value[2]};
        read.given[which] = true;
        read.line[which] = line;
    }
    std::string problem;
    int32_t culprit = 0;
    if (!checkLandmarkSides(read, problem, culprit))
        return lineError(error, fileName, read.line[culprit], problem);
    if (!landmarksPlaceFace(read, problem))
        return fileError(error, fileName, problem);
    landmarks = read;
    return true;
}

Vector3 nearestSurfacePoint(float& distance, const Vector3& query, const Vector3* positions,
                            const Triangle* triangles, int32_t M) {
    assert(M > 0);
    double best = INFINITY;
    Vector3 nearest = positions[triangles[0].index[0]];
    const Point q = toPoint(query);
    for (int32_t t = 0; t < M; ++t) {
        const Vector3& a = positions[triangles[t].index[0]];
        const Vector3& b = positions[triangles[t].index[1]];
        const Vector3& c = positions[triangles[t].index[2]];
        // The triangle lies within the sphere about its centroid through its farthest corner.
        const Point centre = (toPoint(a) + toPoint(b) + toPoint(c)) / 3.0;
        const double radius = std::sqrt(
            std::max({(toPoint(a) - centre).squaredNorm(), (toPoint(b) - centre).squaredNorm(),
                      (toPoint(c) - centre).squaredNorm()}));
        if ((q - centre).norm() - radius >= best)
            continue;
        double weights[3];
        int32_t feature = 0;
        const Vector3 p = closestPointOnTriangle(weights, feature, query, a, b, c);
        const double d = (toPoint(p) - q).norm();
        if (d < best) {
            best = d;
            nearest = p;
        }
    }
    distance = float(best);
    return nearest;
}

bool checkLandmarksOnSurface(const Landmarks& l, const char* fileName, const Vector3* positions,
                             int32_t N, const Triangle* triangles, int32_t M, std::string& error) {
    assert(N > 0 && M > 0);
    Vector3 low = positions[0], high = positions[0];
    for (int32_t i = 1; i < N; ++i) {
        low = {std::min(low.x, positions[i].x), std::min(low.y, positions[i].y),
               std::min(low.z, positions[i].z)};
        high = {std::max(high.x, positions[i].x), std::max(high.y, positions[i].y),
                std::max(high.z, positions[i].z)};
    }
    const double diagonal = (toPoint(high) - toPoint(low)).norm();
    const double allowed = double(landmarkSurfaceShare) * diagonal;
    // In the file's order, so that the first line at fault is named.
    int32_t order[landmarkCount];
    for (int32_t i = 0; i < landmarkCount; ++i)
        order[i] = i;
    std::stable_sort(order, order + landmarkCount,
                     [&](int32_t a, int32_t b) { return l.line[a] < l.line[b]; });
    for (int32_t i : order) {
        if (!l.given[i])
            continue;
        float distance = 0.0f;
        nearestSurfacePoint(distance, l.points[i], positions, triangles, M);
        if (double(distance) <= allowed)
            continue;
        char what[320];
        std::snprintf(what, sizeof what,
                      "%s lies %.3g from the mesh's surface, more than %g %% of its box "
                      "diagonal (%.3g); are the landmarks in the mesh file's own coordinates?",
                      named(l, i).c_str(), double(distance), 100.0 * double(landmarkSurfaceShare),
                      diagonal);
        return l.line[i] > 0 ? lineError(error, fileName, l.line[i], what)
                             : fileError(error, fileName, what);
    }
    return true;
}

void completeLandmarks(Landmarks& l, const Vector3* reference, const Vector3* positions, int32_t N,
                       const Triangle* triangles, int32_t M) {
    assert(N > 0 && M > 0);
    (void)N;
    Vector3 from[landmarkCount], to[landmarkCount];
    int32_t count = 0;
    for (int32_t i = 0; i < landmarkCount; ++i)
        if (l.given[i]) {
            from[count] = reference[i];
            to[count++] = l.points[i];
        }
    Similarity similarity;
    fitSimilarity(similarity, from, to, count);
    for (int32_t i = 0; i < landmarkCount; ++i)
        if (!l.given[i]) {
            float unused = 0.0f;
            l.points[i] = nearestSurfacePoint(unused, applySimilarity(similarity, reference[i]),
                                              positions, triangles, M);
            l.given[i] = true;
            l.line[i] = 0;
        }
}

void landmarkFrame(Vector3& up, Vector3& front, const Landmarks& l) {
    Point left, right, lower;
    meanOf(left, l, leftEyeMarks, 4);
    meanOf(right, l, rightEyeMarks, 4);
    lowerMiddle(lower, l);
    const Point across = (left - right).normalized();
    Point upward = 0.5 * (left + right) - lower;
    upward = (upward - across * across.dot(upward)).normalized();
    const Point forward = across.cross(upward);
    up = {float(upward.x()), float(upward.y()), float(upward.z())};
    front = {float(forward.x()), float(forward.y()), float(forward.z())};
}

bool writeLandmarkFile(const char* fileName, const Landmarks& l, const char* meshFile,
                       std::string& error) {
    const std::string mesh = meshFile && *meshFile ? meshFile : "MESH";
    std::string text =
        "# The 18 landmarks of the face on " + mesh +
        ", one a line: NAME X Y Z, in the mesh file's own\n"
        "# coordinates (as the file stands, before face-import's placement). The face's left "
        "is +x\n"
        "# when it looks along +z with +y up. Move any that are off, delete those you would "
        "have\n"
        "# guessed, and give the file to the import:\n"
        "#   face-import " +
        mesh + " --expressions --landmarks " + fileName + "\n";
    for (int32_t i = 0; i < landmarkCount; ++i) {
        assert(l.given[i]);
        char row[160];
        std::snprintf(row, sizeof row, "%s %.9g %.9g %.9g\n", faceFeatureNames[i],
                      double(l.points[i].x), double(l.points[i].y), double(l.points[i].z));
        text += row;
    }
    return writeFileContents(fileName, text.data(), text.size(), error);
}
