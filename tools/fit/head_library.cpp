#include "tools/fit/head_library.h"

#include "io/file_contents.h"
#include "io/messages.h"
#include "tools/assets/expressions.h"
#include "tools/fit/face_finding.h"

#include <nanoflann.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>

namespace {

// The default face's landmarks at rest: the render positions of its first 18 features.
void defaultLandmarks(Vector3* points, const DefaultFace& face) {
    for (int32_t k = 0; k < landmarkCount; ++k)
        points[k] = face.model->attachments[face.features.vertex[k]].restPosition;
}

} // namespace

bool headLandmarks(Landmarks& landmarks, std::string& how, std::string& error,
                   const char* landmarkFile, const char* meshFile, const Vector3* positions,
                   int32_t N, const Triangle* triangles, int32_t M, const DefaultFace& face) {
    if (landmarkFile) {
        Landmarks read;
        if (!readLandmarkFile(read, landmarkFile, error) ||
            !checkLandmarksOnSurface(read, landmarkFile, positions, N, triangles, M, error))
            return false;
        int32_t given = 0;
        for (bool g : read.given)
            given += g ? 1 : 0;
        Vector3 reference[landmarkCount];
        defaultLandmarks(reference, face);
        completeLandmarks(read, reference, positions, N, triangles, M);
        landmarks = read;
        how = std::to_string(given) + " of 18 from " + landmarkFile +
              (given < landmarkCount ? ", " + std::to_string(landmarkCount - given) +
                                           " completed from the default face's"
                                     : std::string());
        return true;
    }
    FaceTemplate faceTemplate;
    makeDefaultFaceTemplate(faceTemplate);
    FaceFinding found;
    findFace(found, faceTemplate, positions, N, triangles, M);
    if (!found.found)
        return fileError(error, meshFile,
                         found.problem +
                             "; place its landmarks (face-poser's 'F' on a plain import, or a "
                             "file of NAME X Y Z lines) and give --landmarks FILE");
    landmarks = found.landmarks;
    char text[128];
    std::snprintf(text, sizeof text, "found on the mesh, agreeing %.2f with a face's depth",
                  double(found.score));
    how = text;
    return true;
}

void nearestAxes(Vector3& up, Vector3& front, const Vector3& faceUp, const Vector3& faceFront) {
    const float u[3] = {faceUp.x, faceUp.y, faceUp.z};
    const float f[3] = {faceFront.x, faceFront.y, faceFront.z};
    int a = 0, b = -1;
    for (int k = 1; k < 3; ++k)
        if (std::fabs(u[k]) > std::fabs(u[a]))
            a = k;
    for (int k = 0; k < 3; ++k)
        if (k != a && (b < 0 || std::fabs(f[k]) > std::fabs(f[b])))
            b = k;
    up = front = {0.0f, 0.0f, 0.0f};
    (a == 0 ? up.x : a == 1 ? up.y : up.z) = u[a] < 0.0f ? -1.0f : 1.0f;
    (b == 0 ? front.x : b == 1 ? front.y : front.z) = f[b] < 0.0f ? -1.0f : 1.0f;
}

void faceAxes(Vector3& up, Vector3& front, const Landmarks& landmarks) {
    Vector3 faceUp, faceFront;
    landmarkFrame(faceUp, faceFront, landmarks);
    nearestAxes(up, front, faceUp, faceFront);
}

void facePlacement(double& scale, double centre[3], const Landmarks& landmarks, const Vector3& up,
                   const Vector3& front, const DefaultFace& face) {
    // The placement's rotation: its rows the source directions that become +x, +y and +z.
    const Vector3 side = cross(up, front);
    const double turned[3][3] = {
        {side.x, side.y, side.z}, {up.x, up.y, up.z}, {front.x, front.y, front.z}};
    double head[landmarkCount][3], target[landmarkCount][3];
    double headMiddle[3] = {0.0, 0.0, 0.0}, fileMiddle[3] = {0.0, 0.0, 0.0};
    double targetMiddle[3] = {0.0, 0.0, 0.0};
    for (int32_t i = 0; i < landmarkCount; ++i) {
        const Vector3& p = landmarks.points[i];
        const Point3& d = face.render.positions[size_t(face.features.vertex[i])];
        const double file[3] = {p.x, p.y, p.z};
        target[i][0] = d.x, target[i][1] = d.y, target[i][2] = d.z;
        for (int a = 0; a < 3; ++a) {
            head[i][a] = turned[a][0] * file[0] + turned[a][1] * file[1] + turned[a][2] * file[2];
            headMiddle[a] += head[i][a] / landmarkCount;
            fileMiddle[a] += file[a] / landmarkCount;
            targetMiddle[a] += target[i][a] / landmarkCount;
        }
    }
    double headSpread = 0.0, targetSpread = 0.0;
    for (int32_t i = 0; i < landmarkCount; ++i)
        for (int a = 0; a < 3; ++a) {
            headSpread += (head[i][a] - headMiddle[a]) * (head[i][a] - headMiddle[a]);
            targetSpread += (target[i][a] - targetMiddle[a]) * (target[i][a] - targetMiddle[a]);
        }
    scale = std::sqrt(targetSpread / headSpread);
    // R (fileMiddle − centre) · scale = targetMiddle, R's rows orthonormal.
    for (int a = 0; a < 3; ++a)
        centre[a] =
            fileMiddle[a] - (turned[0][a] * targetMiddle[0] + turned[1][a] * targetMiddle[1] +
                             turned[2][a] * targetMiddle[2]) /
                                scale;
}

namespace {

// The fitted face's vertices as nanoflann's point cloud.
struct FittedCloud {
    const std::vector<Vector3>* points;
    size_t kdtree_get_point_count() const { return points->size(); }
    float kdtree_get_pt(size_t i, size_t d) const {
        const Vector3& p = (*points)[i];
        return d == 0 ? p.x : d == 1 ? p.y : p.z;
    }
    template <class Box> bool kdtree_get_bbox(Box&) const { return false; }
};

} // namespace

void measureFaceRegion(FaceRegion& region, const FaceModel& model, const Vector3* positions,
                       int32_t N, const FaceFit& fit) {
    region = FaceRegion();
    if (fit.fittedVertices.empty())
        return;
    using Tree =
        nanoflann::KDTreeSingleIndexAdaptor<nanoflann::L2_Simple_Adaptor<float, FittedCloud>,
                                            FittedCloud, 3>;
    const FittedCloud cloud{&fit.fittedVertices};
    Tree tree(3, cloud, nanoflann::KDTreeSingleIndexAdaptorParams(16));
    tree.buildIndex();
    const float reach = faceRegionReach * fit.faceHeight;
    for (int32_t v = 0; v < N; ++v) {
        uint32_t nearest = 0;
        float squared = 0.0f;
        tree.knnSearch(&positions[v].x, 1, &nearest, &squared);
        if (!(squared <= reach * reach))
            continue;
        ++region.vertices;
        region.attached += model.attachments[v].subPatch >= 0 ? 1 : 0;
    }
}

void describeKeyPoses(std::string& text, const std::vector<CarriedPoseCheck>& checks) {
    const char* const keyPoses[] = {"eyeBlinkLeft", "eyeBlinkRight",  "jawOpen",
                                    "mouthClose",   "mouthSmileLeft", "mouthSmileRight"};
    for (const char* name : keyPoses)
        for (const CarriedPoseCheck& c : checks)
            if (c.name == name)
                text += "  " + c.name + ": " + c.measured + " (aim: " + c.aim + ")" +
                        (c.met ? "" : ", missed") + "\n";
    const CarriedPoseCheck* worst = nullptr;
    for (const CarriedPoseCheck& c : checks)
        if (c.mirror >= 0.0f && (!worst || c.mirror > worst->mirror))
            worst = &c;
    if (worst) {
        char line[200];
        std::snprintf(
            line, sizeof line,
            "  mirror: the Right poses within %.1f %% of their Left's mirror image (%s)\n",
            100.0 * double(worst->mirror), worst->name.c_str());
        text += line;
    }
}

bool writeHeadLibrary(const std::string& folder, const std::vector<NamedPose>& poses,
                      const Landmarks& landmarks, const char* meshFile, std::string& error) {
    const std::string library = folder + "/" + poseLibraryFolder;
    std::error_code failure;
    std::filesystem::create_directories(library, failure);
    if (failure)
        return fileError(error, library, "cannot be made (" + failure.message() + ")");
    for (const NamedPose& pose : poses) {
        std::string text = "# " + pose.name +
                           ": the default face's expression, carried to this head by "
                           "face-import --expressions\n";
        std::vector<ControlPointMove> moves = pose.moves;
        std::sort(
            moves.begin(), moves.end(),
            [](const ControlPointMove& a, const ControlPointMove& b) { return a.index < b.index; });
        for (const ControlPointMove& m : moves) {
            char line[160];
            std::snprintf(line, sizeof line, "%d %.9g %.9g %.9g\n", m.index, double(m.delta.x),
                          double(m.delta.y), double(m.delta.z));
            text += line;
        }
        const std::string file = libraryPoseFile(library, pose.name);
        if (!writeFileContents(file.c_str(), text.data(), text.size(), error))
            return false;
    }
    return writeLandmarkFile((folder + "/landmarks.txt").c_str(), landmarks, meshFile, error);
}
