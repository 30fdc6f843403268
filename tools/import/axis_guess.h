// A guess at a mesh's orientation from its shape, for a file that states no axes. A head, a
// body or an animal is nearly mirror-symmetric across its left-right axis, so up and front lie
// along the other two; a head or a standing figure is longest along its up axis, an animal
// on four legs along its front axis; and along either, more of the mesh's vertices lie on
// the side of the face (the top of a head, the head of an animal) than on the other (a neck,
// legs, a tail). The guess is only proposed to the user: the placement keeps the file's own
// or the default axes.
#pragma once

#include "geometry/vector.h"

#include <string>
#include <vector>

struct AxisGuess {
    int mirrorAxis = -1;      // 0, 1, 2: the coordinate the mesh is most symmetric across
    float mirrorError = 0.0f; // mean distance of a mirrored vertex to the nearest vertex,
                              // over the box diagonal (0: perfectly symmetric)
    Vector3 longest;  // the longer of the other two axes, toward the side with more vertices
    Vector3 shortest; // the third, the same way
};

// The guess from positions (N > 0, any order; a sample of at most 4,096 evenly spread
// vertices is judged). Deterministic.
void guessAxes(AxisGuess& guess, const std::vector<Vector3>& positions);

// A mesh this much asymmetric (mirrorError) or more is not taken for a head or a body: the
// proposal is made only below it. A head of the corpus is within 0.01 of its mirror image;
// parts of machines and scenes are 0.05 and more.
constexpr float maxGuessMirrorError = 0.02f;
