// Token scanner shared by the model and prop readers: walks a text file held in memory as a
// stream of whitespace-separated tokens, converts integer and real tokens, and reads whole
// sections (a count, then its items), refusing bad input with one message line of the form
//
//   <file>, line <L>: <section>, item <i> (<component>): <what is wrong>
//
// Items are counted from 0, as the file's own indices count vertices; the component is the
// letter of the value within the item (x y z, u v, a b c). Count sections have no item.
#pragma once

#include "geometry/vector.h"
#include "io/memory_budget.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Longest real token: the readers convert reals from a 256-byte token buffer, so a longer
// token is refused rather than split.
constexpr size_t maxRealTokenLength = 255;

// The text being read and where the reader is in it. The buffer need not end in a zero byte;
// zero bytes are ordinary token characters.
struct TextScanner {
    const char* begin;
    const char* cursor;
    const char* end;
    const char* fileName; // names the file in messages
    std::string* error;   // receives the message of the first refusal
    uint64_t memoryLeft;  // bytes the arrays still to be allocated may take (see readCount)
    long firstLine;       // the line of the file that begin lies on, for messages
};

// A scanner at the start of data[0..size−1]; memoryLeft is the budget of readCount. The text
// starts on line firstLine of the file (a scanner over one line of a line-based file).
TextScanner makeScanner(const char* data, size_t size, const char* fileName, std::string& error,
                        uint64_t memoryLeft = unlimitedMemory, long firstLine = 1);

// Is c white space to the readers (space, \t, \n, \v, \f, \r: the C isspace set)?
inline bool isTokenSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// Checks that the text can be read as tokens at all: refuses (returning false, through
// refuseFile) a file that starts with a UTF-8 byte-order mark, one that looks like UTF-16
// (a byte-order mark, or a zero byte in one of its first two bytes but not the other), and
// one that holds no token ("the file is empty").
bool checkTextStart(TextScanner& scanner);

// "1 vertex", "3 vertices": count and the noun in agreement.
inline std::string countOf(int64_t count, const char* one, const char* many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

// Converts a whole token by the C %i rules: optional sign, then decimal digits, or octal
// digits after a leading 0, or hexadecimal digits after 0x or 0X. False when the token is not
// entirely such an integer or its value does not fit in 32 signed bits.
bool parseIntegerToken(int32_t& value, const char* token, size_t length);

enum class RealTokenStatus { ok, noNumber, notFinite, tooLong };

// Converts a real token as atof does (the longest numeric prefix, in double precision, so
// "3.7cm" is 3.7 and "1.5e2" is 150) and rounds the result to float. Refuses a token with no
// numeric prefix (noNumber), a value that is not finite as a float: nan, inf, or too large
// (notFinite), and a token longer than maxRealTokenLength (tooLong); value is then unchanged.
RealTokenStatus parseRealToken(float& value, const char* token, size_t length);

// Section readers. Each consumes its tokens from the scanner and returns true, or sets the
// scanner's error and returns false (its output then holds partial data to be discarded).

// What a count counts, in the singular and the plural ("render vertex", "render vertices").
struct ItemNoun {
    const char* one;
    const char* many;
};

// Reads a count of items: an integer token that is not negative, small enough that the rest
// of the text could hold count × tokensPerItem more tokens (each needs at least two bytes: one
// separator and one character), so a short file never asks for a large allocation, and whose
// count × bytesPerItem fits the scanner's memoryLeft, which it then reduces by that much.
// Messages: "the file ends before the 7 render vertices that the count announces" and "7
// render vertices need 1.2 GB; 3.1 GB are available".
bool readCount(int32_t& count, TextScanner& scanner, const char* section, ItemNoun items,
               int tokensPerItem, uint64_t bytesPerItem);

// Reads count points, three real tokens x y z each: points[0..count−1].
bool readPoints(Vector3* points, int32_t count, TextScanner& scanner, const char* section);

// Reads count texture coordinates, two real tokens u v each: texCoords[0..count−1].
bool readTexCoords(TexCoord* texCoords, int32_t count, TextScanner& scanner, const char* section);

// Reads count triangles, three integer tokens a b c each, every index in [0, vertexCount).
// Stored as (a, c, b) when swapWinding, else as (a, b, c): triangles[0..count−1]. meshName
// names the mesh in the message about an index outside it.
bool readTriangles(Triangle* triangles, int32_t count, int32_t vertexCount, bool swapWinding,
                   TextScanner& scanner, const char* section, const char* meshName);

// Line-based files (pose files, import records) are read a line at a time.

// A token of a line: length characters at text.
struct LineToken {
    const char* text;
    size_t length;
};

// The next line of [cursor, end) that holds a token which does not start with '#' (blank and
// comment lines are passed over): [start, stop), without its line end. Lines end in "\n",
// "\r\n" or a lone "\r", as the scanner counts them. Moves cursor past the line and adds the
// lines passed to line (the number of the line returned). False at the end of the text.
bool nextContentLine(const char*& cursor, const char* end, long& line, const char*& start,
                     const char*& stop);

// The tokens of [start, stop), in order, into tokens.
void lineTokens(std::vector<LineToken>& tokens, const char* start, const char* stop);

// Sets the scanner's error to "<file>: <what>" (no line) and returns false.
bool refuseFile(TextScanner& scanner, const char* what);
