// Colours of how firmly each render vertex is bound to the surface, on the scale of
// face-inspect's binding picture: an attachment weight from purple (0) through teal (0.5)
// to yellow (1), unattached vertices red.
#pragma once

#include "face/attachments.h"

#include <cstdint>

// The three stops of the scale, at weights 0, 0.5 and 1.
extern const float bindingWeightStops[3][3];
extern const float unattachedBindingColour[3];

// The weight's colour, linear between the stops (weights clamped to [0, 1]).
void bindingWeightColour(float rgb[3], float weight);

// rgb[3i .. 3i + 2] = the colour of attachments[i] (N): its weight's, or
// unattachedBindingColour when the vertex is unattached.
void bindingColours(float* rgb, const Attachment* attachments, int32_t N);
