// The viewer's data folder: the face model's and the skin's file names, the four props with
// the control points that carry them, and paths under a folder of the user's. Shared by the
// programs that read the folder (face-viewer, face-poser, face-inspect) and face-import,
// which writes one.
#pragma once

#include "geometry/vector.h"

#include <cstdint>
#include <string>

// Where a prop comes from and which control points carry it.
struct PropSlotSource {
    const char* name; // in messages: "black_th0"
    const char* propFile;
    const char* textureFile;
    int32_t first, second; // control points of the frame's first and second points
    int32_t third[3];      // the third point: control point third[0], or the centroid of all
    int32_t thirdCount;    // three (1 or 3)
    bool alwaysDrawn;      // blended in every frame; otherwise an eye, only while showEyes
};

constexpr int32_t propSlotCount = 4;
// In start-up and drawing order: the two rows of teeth, then the two eyes.
extern const PropSlotSource propSlotSources[propSlotCount];

// The control points that the props' frames read reach up to index 87.
constexpr int32_t minControlPointCount = 88;

// The face's files, relative to the working directory.
extern const char* const sceneModelFile;       // "data/retarget.model"
extern const char* const sceneSkinTextureFile; // "data/white_skin.tga"

// The path of one of the scene's files (sceneModelFile, a prop's files, ...) under folder:
// the file itself when folder is empty, otherwise folder + "/" + file (one slash).
std::string sceneFilePath(const std::string& folder, const char* file);

// The slot's name and the control points of its frame, for messages:
// "black_th0 (control points 70, 74, 24)", or for an eye
// "white_eye0 (control points 66, 67 and the centroid of 33, 34, 35)".
std::string propFrameText(const PropSlotSource& source);
