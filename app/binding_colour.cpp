#include "app/binding_colour.h"

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

void bindingColours(float* rgb, const Attachment* attachments, int32_t N) {
    for (int32_t i = 0; i < N; ++i, rgb += 3) {
        if (attachments[i].subPatch >= 0)
            bindingWeightColour(rgb, attachments[i].weight);
        else
            std::copy(unattachedBindingColour, unattachedBindingColour + 3, rgb);
    }
}
