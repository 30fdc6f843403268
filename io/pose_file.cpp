#include "io/pose_file.h"

#include "io/file_contents.h"
#include "io/messages.h"
#include "io/text_scanner.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <system_error>

bool readPoseFile(std::vector<ControlPointMove>& moves, const char* fileName,
                  int32_t controlPointCount, std::string& error) {
    FileContents contents;
    return openFileContents(contents, fileName, error) &&
           readPoseBuffer(moves, contents.data, contents.size, fileName, controlPointCount, error);
}

bool readPoseBuffer(std::vector<ControlPointMove>& moves, const char* data, size_t size,
                    const char* fileName, int32_t controlPointCount, std::string& error) {
    const char* cursor = data;
    const char* const end = data + size;
    std::vector<ControlPointMove> read;
    std::vector<LineToken> tokens;
    long line = 0;
    const char *start = nullptr, *stop = nullptr;
    while (nextContentLine(cursor, end, line, start, stop)) {
        lineTokens(tokens, start, stop);
        if (tokens.size() != 4)
            return lineError(error, fileName, line,
                             "expected \"I DX DY DZ\", found " + std::to_string(tokens.size()) +
                                 " fields");
        const char* first = tokens[0].text;
        const size_t firstLength = tokens[0].length;
        ControlPointMove move;
        if (!parseIntegerToken(move.index, first, firstLength) || move.index < 0 ||
            move.index >= controlPointCount)
            return lineError(error, fileName, line,
                             "index \"" + std::string(first, std::min<size_t>(firstLength, 40)) +
                                 "\" is not a control point (the model has " +
                                 std::to_string(controlPointCount) + ")");
        // The offsets through the model reader's rules, by a scanner over the rest of the
        // line, so that its messages name this line.
        const char* offsets = first + firstLength;
        TextScanner scanner =
            makeScanner(offsets, size_t(stop - offsets), fileName, error, unlimitedMemory, line);
        if (!readPoints(&move.delta, 1, scanner, "move"))
            return false;
        if (!(std::fabs(move.delta.x) <= largestPoseOffset &&
              std::fabs(move.delta.y) <= largestPoseOffset &&
              std::fabs(move.delta.z) <= largestPoseOffset))
            return lineError(error, fileName, line,
                             "an offset is larger than 1e6 model units (an imported head is "
                             "16 units tall)");
        read.push_back(move);
    }
    moves.insert(moves.end(), read.begin(), read.end());
    return true;
}

void applyMoves(Vector3* points, const ControlPointMove* moves, size_t moveCount) {
    for (size_t m = 0; m < moveCount; ++m)
        points[moves[m].index] = points[moves[m].index] + moves[m].delta;
}

bool validPoseName(const std::string& name) {
    if (name.empty() || name.size() > longestPoseName)
        return false;
    for (char c : name)
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
              c == '-' || c == '_'))
            return false;
    return true;
}

std::string poseName(const std::string& fileName) {
    return std::filesystem::path(fileName).stem().string();
}

std::string libraryPoseFile(const std::string& folder, const std::string& name) {
    return (std::filesystem::path(folder) / (name + poseFileExtension)).string();
}

bool readPoseLibrary(std::vector<NamedPose>& poses, std::vector<std::string>& refusals,
                     const std::string& folder, int32_t controlPointCount, std::string& error) {
    namespace fs = std::filesystem;
    std::error_code failure;
    if (!fs::exists(folder, failure)) {
        poses.clear();
        return true;
    }
    if (!fs::is_directory(folder, failure))
        return fileError(error, folder, "not a folder (the pose library is a folder)");
    std::vector<std::string> names;
    for (fs::directory_iterator entry(folder, failure), end; !failure && entry != end;
         entry.increment(failure))
        if (entry->path().extension() == poseFileExtension)
            names.push_back(entry->path().filename().string());
    if (failure)
        return fileError(error, folder, "cannot be listed (" + failure.message() + ")");
    std::sort(names.begin(), names.end());

    std::vector<NamedPose> read;
    for (const std::string& fileName : names) {
        const std::string file = (fs::path(folder) / fileName).string();
        NamedPose pose{poseName(fileName), {}};
        std::string refusal;
        if (!validPoseName(pose.name))
            refusals.push_back(file + ": not a pose name (1 to 64 letters, digits, '-' or '_')");
        else if (!readPoseFile(pose.moves, file.c_str(), controlPointCount, refusal))
            refusals.push_back(refusal);
        else
            read.push_back(std::move(pose));
    }
    poses = std::move(read);
    return true;
}
