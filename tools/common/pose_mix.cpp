#include "tools/common/pose_mix.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

void mixOffsets(Vector3* offsets, int32_t K, const MixTerm* terms, size_t count) {
    std::fill(offsets, offsets + K, Vector3{0.0f, 0.0f, 0.0f});
    std::vector<size_t> order;
    for (size_t t = 0; t < count; ++t)
        if (terms[t].weight != 0.0f)
            order.push_back(t);
    // The library's order is that of the file names, and '.' sorts after '-' and before
    // letters: "smile-left.txt" comes before "smile.txt".
    std::sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        return terms[a].name + poseFileExtension < terms[b].name + poseFileExtension;
    });
    std::vector<Vector3> pose(static_cast<size_t>(K));
    for (size_t t : order) {
        std::fill(pose.begin(), pose.end(), Vector3{0.0f, 0.0f, 0.0f});
        applyMoves(pose.data(), terms[t].moves, terms[t].moveCount);
        for (int32_t i = 0; i < K; ++i)
            offsets[i] = offsets[i] + terms[t].weight * pose[size_t(i)];
    }
}

float steppedMixWeight(float weight, int32_t steps) {
    const float lowest = lowestMixWeight * mixStepsPerUnit;
    const float highest = highestMixWeight * mixStepsPerUnit;
    const float k =
        std::min(highest, std::max(lowest, std::round(weight * mixStepsPerUnit) + float(steps)));
    return k / float(mixStepsPerUnit);
}

bool parseMixArgument(std::vector<MixFile>& files, const std::string& text, std::string& problem) {
    std::vector<MixFile> read;
    size_t start = 0;
    while (true) {
        const size_t comma = text.find(',', start);
        const std::string part =
            text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        const size_t equals = part.rfind('=');
        if (equals == std::string::npos || equals == 0)
            return problem = "--mix takes FILE=WEIGHT, separated by commas (\"" + part + "\")",
                   false;
        const std::string number = part.substr(equals + 1);
        char* end = nullptr;
        const float weight = std::strtof(number.c_str(), &end);
        if (number.empty() || *end != '\0' || !(weight >= lowestMixWeight) ||
            !(weight <= highestMixWeight))
            return problem = "--mix: the weight of " + part.substr(0, equals) +
                             " is not a number from -1 to 2 (\"" + number + "\")",
                   false;
        read.push_back({part.substr(0, equals), weight});
        if (comma == std::string::npos)
            break;
        start = comma + 1;
    }
    files.insert(files.end(), read.begin(), read.end());
    return true;
}
