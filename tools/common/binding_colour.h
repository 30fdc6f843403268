// Colours of how each render vertex is bound to the surface, on the scales of face-inspect's
// binding picture and face-poser's "w": an attachment weight from purple (0) through teal
// (0.5) to yellow (1), unattached vertices red; or an amplification (face/amplification.h)
// teal up to 1 (the vertex follows its control points), through yellow at 1.5 to red at 3,
// magenta above 3 (a spike when dragged), unattached vertices grey (they never move).
#pragma once

#include "face/attachments.h"

#include <cstdint>

// The three stops of the scale, at weights 0, 0.5 and 1.
extern const float bindingWeightStops[3][3];
extern const float unattachedBindingColour[3];

// The weight's colour, linear between the stops (weights clamped to [0, 1]).
void bindingWeightColour(float rgb[3], float weight);

// The amplification scale: its stops at amplificationStopValues (1, 1.5, 3), the colour
// above the last, and the colour of unattached vertices.
extern const float amplificationStopValues[3];
extern const float amplificationStops[3][3];
extern const float spikeBindingColour[3];
extern const float unmovedBindingColour[3];

// The amplification's colour, linear between the stops (below 1 as at 1).
void amplificationColour(float rgb[3], float amplification);

// rgb[3i .. 3i + 2] = the colour of attachments[i] (N): its weight's or, when amplification
// (N values) is not null, its amplification's; unattachedBindingColour or
// unmovedBindingColour when the vertex is unattached.
void bindingColours(float* rgb, const Attachment* attachments, int32_t N,
                    const float* amplification = nullptr);
