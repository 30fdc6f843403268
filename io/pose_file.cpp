#include "io/pose_file.h"

#include "io/file_contents.h"
#include "io/messages.h"
#include "io/text_scanner.h"

#include <algorithm>

bool readPoseFile(std::vector<ControlPointMove>& moves, const char* fileName,
                  int32_t controlPointCount, std::string& error) {
    FileContents contents;
    if (!openFileContents(contents, fileName, error))
        return false;
    const char* cursor = contents.data;
    const char* const end = contents.data + contents.size;
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
        TextScanner scanner = makeScanner(offsets, size_t(stop - offsets), fileName, error,
                                          unlimitedMemory, line);
        if (!readPoints(&move.delta, 1, scanner, "move"))
            return false;
        read.push_back(move);
    }
    moves.insert(moves.end(), read.begin(), read.end());
    return true;
}

void applyMoves(Vector3* points, const ControlPointMove* moves, size_t moveCount) {
    for (size_t m = 0; m < moveCount; ++m)
        points[moves[m].index] = points[moves[m].index] + moves[m].delta;
}
