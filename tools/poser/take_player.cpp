#include "tools/poser/take_player.h"

#include "io/messages.h"
#include "tools/common/prop_rig.h"

#include <cmath>
#include <cstdio>
#include <filesystem>

namespace {

// frame shown, with its mix (made anew only for another frame).
bool showFrame(TakePlayer& player, int32_t frame) {
    if (frame == player.frame)
        return false;
    player.frame = frame;
    std::vector<MixTerm> terms, jaw;
    takeFrameTerms(terms, player.take, frame, player.poses.data(), player.poseOf);
    player.weights.clear();
    for (const MixTerm& term : terms) {
        player.weights.push_back({term.name, term.weight});
        if (isJawPose(term.name))
            jaw.push_back(term);
    }
    mixOffsets(player.offsets.get(), player.count, terms.data(), terms.size());
    mixOffsets(player.jawOffsets.get(), player.count, jaw.data(), jaw.size());
    return true;
}

} // namespace

bool loadTake(TakePlayer& player, const char* fileName, std::vector<NamedPose>& poses, int32_t K,
              std::vector<std::string>& warnings, std::string& error) {
    Take take;
    if (!readTakeFile(take, fileName, warnings, error))
        return false;
    int32_t poseOf[arkitExpressionCount];
    findDrivenPoses(poseOf, poses.data(), poses.size());
    if (drivenPoseCount(take, poseOf) == 0)
        return fileError(error, fileName,
                         "the pose library holds none of the expressions the take names (its "
                         "poses are named as ARKit names them: eyeBlinkLeft, jawOpen, ...)");
    player.file = fileName;
    player.take = std::move(take);
    player.poses.swap(poses);
    std::copy(poseOf, poseOf + arkitExpressionCount, player.poseOf);
    player.playing = false;
    player.count = K;
    player.offsets.reset(new Vector3[K]());
    player.jawOffsets.reset(new Vector3[K]());
    player.time = 0.0;
    player.frame = -1;
    showFrame(player, 0);
    return true;
}

void closeTake(TakePlayer& player) {
    player.file.clear();
    player.take = Take();
    player.poses.clear();
    player.playing = false;
    player.weights.clear();
}

bool seekTake(TakePlayer& player, double seconds) {
    const double length = takeDuration(player.take);
    if (player.loop && length > 0.0 && (seconds < 0.0 || seconds > length)) {
        seconds = std::fmod(seconds, length);
        if (seconds < 0.0)
            seconds += length;
    }
    player.time = std::min(std::max(seconds, 0.0), length);
    return showFrame(player, takeFrameAt(player.take, player.time));
}

bool advanceTake(TakePlayer& player, double seconds) {
    if (!player.playing)
        return false;
    const double length = takeDuration(player.take);
    if (!player.loop && player.time + seconds >= length)
        player.playing = false; // held at the end
    return seekTake(player, player.time + seconds);
}

void stepTake(TakePlayer& player, int32_t frames) {
    player.playing = false;
    const int32_t count = player.take.frameCount;
    int32_t frame = player.frame + frames;
    frame =
        player.loop ? ((frame % count) + count) % count : std::min(std::max(frame, 0), count - 1);
    player.time = player.take.times[size_t(frame)];
    showFrame(player, frame); // the frame asked, even where frames share a time
}

std::string takeStatusLine(const TakePlayer& player) {
    char line[512];
    std::snprintf(line, sizeof line, "%s: frame %d/%d, %.2f/%.2f s at %.0f/s, %s%s%s",
                  std::filesystem::path(player.file).filename().c_str(), player.frame + 1,
                  player.take.frameCount, player.time, takeDuration(player.take),
                  takeRate(player.take), player.playing ? "playing" : "paused",
                  player.loop ? ", loop" : "",
                  player.take.rotations.empty() ? ""
                  : player.headTurn             ? ", head turn"
                                                : ", head still");
    return line;
}
