// How strongly a binding passes a move of the control mesh on to the render mesh. The
// amplification of a render vertex is the largest distance it moves when one control point
// moves by a step along x, y or z, divided by the step: 1 for a vertex that follows its
// nearest control point rigidly, more where a frame's tangents are nearly parallel or an
// offset is long, so that dragging one point throws the vertex far (a spike). Unattached
// vertices never move: 0.
#pragma once

#include "face/workers.h"
#include "geometry/vector.h"

#include <cstdint>

class FaceModel;

// Where the amplification peaks, and how much of the render mesh lies above two marks.
struct AmplificationSummary {
    float largest = 0.0f;        // the largest amplification (+∞ where a step breaks a sub-patch)
    int32_t controlPoint = -1;   // the control point whose move gives it (−1 when none moves)
    int32_t renderVertex = -1;   // the render vertex it moves
    int32_t aboveOneAndHalf = 0; // render vertices whose amplification exceeds 1.5
    int32_t aboveThree = 0;      // and 3
};

// The moves a binding is judged by: one tenth of a model unit (a small drag) and one unit
// (a real drag: the default face's mouth opens by 1.5).
constexpr float smallAmplificationStep = 0.1f;
constexpr float unitAmplificationStep = 1.0f;

// amplification[0..N−1] (N = model.renderVertexCount) and, when worstControlPoint is not
// null, worstControlPoint[0..N−1]: the control point whose move gives each vertex its value
// (−1 for a vertex that never moves). controlPoints (K) is the pose moved from, usually the
// rest pose the model was built from. Each of the 3K moves rebuilds only the sub-patches
// whose control points, normals or edge normals the moved point changes (those of the
// triangles around its neighbours), with the update's own arithmetic and summation order,
// so every moved position equals what a whole update would place, bit for bit. A move that
// makes a sub-patch non-finite gives +∞. The control points' moves run in blocks on the
// workers (the same values and control points with any thread count). Allocates its
// scratch for the call: per thread a copy of the pose and its normals and two values per
// attached vertex.
void computeAmplification(float* amplification, int32_t* worstControlPoint, const FaceModel& model,
                          const Vector3* controlPoints, float step,
                          WorkerPool& workers = sharedWorkers());

// The summary of amplification[0..N−1] with worstControlPoint[0..N−1] as computed above.
AmplificationSummary summarizeAmplification(const float* amplification,
                                            const int32_t* worstControlPoint, int32_t N);
