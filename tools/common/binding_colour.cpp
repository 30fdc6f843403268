#include "tools/common/binding_colour.h"

#include <algorithm>

const float bindingWeightStops[3][3] = {
    {0.27f, 0.0f, 0.33f}, {0.13f, 0.57f, 0.55f}, {0.99f, 0.91f, 0.15f}};
const float unattachedBindingColour[3] = {0.9f, 0.05f, 0.05f};

void bindingWeightColour(float rgb[3], float weight) {
    const float w = std::min(1.0f, std::max(0.0f, weight)) * 2.0f;
    const int low = w >= 1.0f ? 1 : 0;
    const float f = w - float(low);
    for (int c = 0; c < 3; ++c)
        rgb[c] = bindingWeightStops[low][c] +
                 (bindingWeightStops[low + 1][c] - bindingWeightStops[low][c]) * f;
}

const float amplificationStopValues[3] = {1.0f, 1.5f, 3.0f};
const float amplificationStops[3][3] = {
    {0.13f, 0.57f, 0.55f}, {0.99f, 0.91f, 0.15f}, {0.9f, 0.1f, 0.05f}};
const float spikeBindingColour[3] = {0.85f, 0.1f, 0.85f};
const float unmovedBindingColour[3] = {0.5f, 0.5f, 0.5f};

void amplificationColour(float rgb[3], float amplification) {
    const float* at = amplificationStopValues;
    const float a = std::max(at[0], amplification);
    if (!(a <= at[2])) { // above 3, or infinite
        std::copy(spikeBindingColour, spikeBindingColour + 3, rgb);
        return;
    }
    const int low = a >= at[1] ? 1 : 0;
    const float f = (a - at[low]) / (at[low + 1] - at[low]);
    for (int c = 0; c < 3; ++c)
        rgb[c] = amplificationStops[low][c] +
                 (amplificationStops[low + 1][c] - amplificationStops[low][c]) * f;
}

void bindingColours(float* rgb, const Attachment* attachments, int32_t N,
                    const float* amplification) {
    for (int32_t i = 0; i < N; ++i, rgb += 3) {
        if (attachments[i].subPatch < 0)
            std::copy(amplification ? unmovedBindingColour : unattachedBindingColour,
                      (amplification ? unmovedBindingColour : unattachedBindingColour) + 3, rgb);
        else if (amplification)
            amplificationColour(rgb, amplification[i]);
        else
            bindingWeightColour(rgb, attachments[i].weight);
    }
}
