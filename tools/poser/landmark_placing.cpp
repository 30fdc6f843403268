#include "tools/poser/landmark_placing.h"

#include "io/data_folder.h"
#include "io/messages.h"

#include <sys/stat.h>

const char* const landmarkDescriptions[landmarkCount] = {"the outer corner of the face's left eye",
                                                         "the inner corner of the face's left eye",
                                                         "the outer corner of the face's right eye",
                                                         "the inner corner of the face's right eye",
                                                         "the middle of the left upper lid's edge",
                                                         "the middle of the left lower lid's edge",
                                                         "the middle of the right upper lid's edge",
                                                         "the middle of the right lower lid's edge",
                                                         "the inner end of the left brow",
                                                         "the outer end of the left brow",
                                                         "the inner end of the right brow",
                                                         "the outer end of the right brow",
                                                         "the left corner of the mouth",
                                                         "the right corner of the mouth",
                                                         "the middle of the upper lip's edge",
                                                         "the middle of the lower lip's edge",
                                                         "the tip of the nose",
                                                         "the point of the chin"};

bool startLandmarkPlacing(LandmarkPlacing& placing, const std::string& folder, std::string& warning,
                          std::string& error) {
    const std::string recordFile = sceneFilePath(folder, importRecordFile);
    struct stat info;
    if (stat(recordFile.c_str(), &info) != 0)
        return fileError(error, recordFile,
                         "missing: landmarks are placed on a head face-import made, in the "
                         "coordinates of its file");
    LandmarkPlacing started;
    if (!readImportRecord(started.record, recordFile.c_str(), error))
        return false;
    const std::string guesses = sceneFilePath(folder, "landmarks.txt");
    Landmarks read;
    if (stat(guesses.c_str(), &info) == 0 && !readLandmarkFile(read, guesses.c_str(), warning))
        read = Landmarks();
    for (int32_t i = 0; i < landmarkCount; ++i) {
        started.guessed[i] = read.given[i];
        if (read.given[i])
            started.points[i] = modelPosition(started.record, read.points[i]);
    }
    started.on = true;
    placing = started;
    return true;
}

bool pressedSurfacePoint(Vector3& point, const Camera& camera, int32_t width, int32_t height,
                         int32_t x, int32_t y, float depth) {
    if (!(depth < 1.0f) || width <= 0 || height <= 0)
        return false;
    // The pixel's centre in normalised device coordinates (window y from the top).
    const Vector4 ndc = {(float(x) + 0.5f) / float(width) * 2.0f - 1.0f,
                         1.0f - (float(y) + 0.5f) / float(height) * 2.0f, 2.0f * depth - 1.0f,
                         1.0f};
    const Vector4 world = camera.unproject(ndc);
    point = {world.x, world.y, world.z};
    return isFinite(point);
}

bool placeLandmark(LandmarkPlacing& placing, const Vector3& point) {
    placing.points[placing.current] = point;
    placing.placed[placing.current] = true;
    for (int32_t step = 1; step <= landmarkCount; ++step) {
        const int32_t next = (placing.current + step) % landmarkCount;
        if (!placing.placed[next]) {
            placing.current = next;
            return false;
        }
    }
    return true;
}

bool saveLandmarks(const LandmarkPlacing& placing, const char* fileName, std::string& error) {
    Landmarks landmarks;
    for (int32_t i = 0; i < landmarkCount; ++i) {
        landmarks.points[i] = sourcePosition(placing.record, placing.points[i]);
        landmarks.given[i] = placing.placed[i];
    }
    return writeLandmarkFile(fileName, landmarks, placing.record.source.c_str(), error);
}

std::string reimportCommand(const LandmarkPlacing& placing, const std::string& folder,
                            const std::string& fileName) {
    std::string meshes;
    for (int32_t m : placing.record.meshes)
        meshes += (meshes.empty() ? " --mesh " : ",") + std::to_string(m);
    return "face-import " + placing.record.source + meshes + " --expressions --landmarks " +
           fileName + " --out " + (folder.empty() ? std::string(".") : folder);
}
