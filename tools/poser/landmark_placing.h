// face-poser's landmark placing: on a folder face-import made, a mode that asks for the 18
// landmarks of the face one after the other (tools/fit/landmarks.h), shows where each is
// guessed (FOLDER/landmarks.txt as face-import found or was given them), and puts the one
// asked for where a right press meets the head's visible surface. When the last is placed
// the set is written to FOLDER/landmarks.txt, in the imported file's own coordinates, and
// the command that imports the head again with them is printed.
#pragma once

#include "geometry/camera.h"
#include "geometry/vector.h"
#include "io/import_record.h"
#include "tools/fit/landmarks.h"

#include <cstdint>
#include <string>

struct LandmarkPlacing {
    bool on = false;
    int32_t current = 0; // the landmark asked for
    ImportRecord record; // the way to the imported file's coordinates
    // Model units: each landmark's guess (guessed) and, once placed, where it is (placed).
    Vector3 points[landmarkCount] = {};
    bool guessed[landmarkCount] = {};
    bool placed[landmarkCount] = {};
    // A right press waiting for the next frame's depth buffer: its window pixel.
    bool pressPending = false;
    int32_t pressX = 0, pressY = 0;
};

// What landmark i is, in a few words for the window ("the outer corner of the left eye").
extern const char* const landmarkDescriptions[landmarkCount];

// Starts placing on folder: reads its import record (refused without one: landmarks belong
// to a head face-import made) and the guesses of folder/landmarks.txt where it reads
// (placed into model units; none where it is missing or refused, with the refusal in
// warning). False with one line in error.
bool startLandmarkPlacing(LandmarkPlacing& placing, const std::string& folder, std::string& warning,
                          std::string& error);

// The press's point on the surface drawn: window pixel (x, y from the top) and the depth
// there (GL window depth, 0 to 1; 1 where nothing is drawn), turned back into model units
// through camera. False where nothing is drawn.
bool pressedSurfacePoint(Vector3& point, const Camera& camera, int32_t width, int32_t height,
                         int32_t x, int32_t y, float depth);

// Places the landmark asked for at point and moves on to the next not yet placed. Returns
// whether every landmark is placed.
bool placeLandmark(LandmarkPlacing& placing, const Vector3& point);

// Writes the placed landmarks to fileName in the imported file's coordinates (every one
// placed). False with one line in error.
bool saveLandmarks(const LandmarkPlacing& placing, const char* fileName, std::string& error);

// The command that imports the head again with the landmarks of fileName into folder.
std::string reimportCommand(const LandmarkPlacing& placing, const std::string& folder,
                            const std::string& fileName);
