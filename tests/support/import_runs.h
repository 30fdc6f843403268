// The real face-import and face-inspect run as child processes, and what the tests of an
// import read back from its folder: the model built, its attached vertices, the render vertex
// nearest a point, the largest amplification.
#pragma once

#include "face/amplification.h"
#include "face/face_model.h"
#include "io/model_file.h"
#include "tests/support/synthetic_model.h"
#include "tests/support/viewer_session.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

// Debian's assimp-testmodels (package assimp-testmodels).
inline const std::string models = "/usr/share/assimp/models/";

inline ProgramRun runImport(const std::string& arguments) {
    return runWords(FACE_IMPORT_PATH, arguments);
}
inline ProgramRun inspect(const std::string& arguments) {
    return runWords(FACE_INSPECT_PATH, arguments);
}

// The model file read into data and built (the read failing is a test failure).
inline std::unique_ptr<FaceModel> buildModel(ModelData& data, const std::string& file) {
    std::string error;
    EXPECT_TRUE(readModelFile(data, file.c_str(), error)) << error;
    return makeFaceModel(data);
}

inline int32_t attachedCount(const FaceModel& model) {
    return static_cast<int32_t>(std::count_if(model.attachments.get(),
                                              model.attachments.get() + model.renderVertexCount,
                                              [](const Attachment& a) { return a.subPatch >= 0; }));
}

// The render vertex nearest to p.
inline int32_t nearestVertex(const ModelData& data, const Vector3& p) {
    int32_t best = 0;
    for (int32_t i = 1; i < data.renderVertexCount; ++i)
        if (length(data.renderPositions[i] - p) < length(data.renderPositions[best] - p))
            best = i;
    return best;
}

// The largest amplification of a model for moves of step.
inline float largestAmplification(const FaceModel& model, const ModelData& data, float step) {
    std::vector<float> amplification(size_t(data.renderVertexCount));
    computeAmplification(amplification.data(), nullptr, model, data.controlPoints.get(), step);
    return *std::max_element(amplification.begin(), amplification.end());
}
