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
    const char* const end = contents.data + contents.size;
    std::vector<ControlPointMove> read;
    long line = 1;
    for (const char* start = contents.data; start < end; ++line) {
        // Lines end in "\n", "\r\n" or a lone "\r", as the scanner counts them.
        const char* stop = start;
        while (stop < end && *stop != '\n' && *stop != '\r')
            ++stop;
        const char* next = stop;
        if (next < end)
            next += *next == '\r' && next + 1 < end && next[1] == '\n' ? 2 : 1;
        const char* lineStart = start;
        start = next;

        // The first token, and how many there are.
        const char* first = nullptr;
        size_t firstLength = 0, fields = 0;
        for (const char* p = lineStart; p < stop;) {
            if (isTokenSpace(*p)) {
                ++p;
                continue;
            }
            const char* q = p;
            while (q < stop && !isTokenSpace(*q))
                ++q;
            if (fields++ == 0) {
                first = p;
                firstLength = size_t(q - p);
            }
            p = q;
        }
        if (fields == 0 || *first == '#')
            continue;
        if (fields != 4)
            return lineError(error, fileName, line,
                             "expected \"I DX DY DZ\", found " + std::to_string(fields) +
                                 " fields");
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
