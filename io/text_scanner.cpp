#include "io/text_scanner.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

// Longest piece of a bad token quoted in a message.
constexpr size_t maxQuotedLength = 40;

bool isDigit(char c) { return c >= '0' && c <= '9'; }

int hexDigitValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// 1-based line of position p. Lines end in "\n", "\r\n" or a lone "\r".
long lineOf(const TextScanner& s, const char* p) {
    long line = s.firstLine;
    for (const char* q = s.begin; q < p; ++q)
        if (*q == '\n' || (*q == '\r' && (q + 1 == s.end || q[1] != '\n')))
            ++line;
    return line;
}

// Whether a token that failed as an integer would have been a decimal one but for a leading
// 0 that made it octal: sign, 0, then decimal digits among which an 8 or a 9.
bool isOctalMistake(const char* token, size_t length) {
    const char* p = token;
    const char* end = token + length;
    if (p < end && (*p == '+' || *p == '-'))
        ++p;
    if (end - p < 2 || *p != '0')
        return false;
    bool eightOrNine = false;
    for (++p; p < end; ++p) {
        if (!isDigit(*p))
            return false;
        eightOrNine = eightOrNine || *p >= '8';
    }
    return eightOrNine;
}

// Where the text's last token ends: an early end of the file is reported on its last line
// that has a token rather than on a trailing empty line.
const char* lastTokenEnd(const TextScanner& s) {
    const char* p = s.end;
    while (p > s.begin && isTokenSpace(p[-1]))
        --p;
    return p;
}

// A token made printable for a message: at most maxQuotedLength characters, each byte
// outside printable ASCII shown as '?', in double quotes.
std::string quoted(const char* token, size_t length) {
    std::string text = "\"";
    for (size_t i = 0; i < length && i < maxQuotedLength; ++i) {
        const unsigned char c = static_cast<unsigned char>(token[i]);
        text += (c >= 0x20 && c < 0x7F) ? static_cast<char>(c) : '?';
    }
    if (length > maxQuotedLength)
        text += "...";
    text += "\"";
    return text;
}

std::string notAnInteger(const char* token, size_t length) {
    std::string what = quoted(token, length) + " is not a 32-bit integer";
    if (isOctalMistake(token, length))
        what += " (a leading 0 makes a number octal, and octal has no digit 8 or 9)";
    return what;
}

// Sets "<file>, line L: <section>[, item i (c)]: <what>" and returns false. item < 0 leaves
// out the item; component 0 leaves out the component.
bool refuse(TextScanner& s, const char* at, const char* section, long item, char component,
            const std::string& what) {
    std::string& e = *s.error;
    e = s.fileName;
    e += ", line ";
    e += std::to_string(lineOf(s, at));
    e += ": ";
    e += section;
    if (item >= 0) {
        e += ", item ";
        e += std::to_string(item);
        if (component) {
            e += " (";
            e += component;
            e += ")";
        }
    }
    e += ": ";
    e += what;
    return false;
}

// The next token: [token, token + length), the cursor moved past it. False at the end.
inline bool nextToken(TextScanner& s, const char*& token, size_t& length) {
    const char* p = s.cursor;
    while (p < s.end && isTokenSpace(*p))
        ++p;
    if (p == s.end) {
        s.cursor = p;
        return false;
    }
    const char* start = p;
    while (p < s.end && !isTokenSpace(*p))
        ++p;
    token = start;
    length = static_cast<size_t>(p - start);
    s.cursor = p;
    return true;
}

bool readIntegerItem(int32_t& value, TextScanner& s, const char* section, long item,
                     char component) {
    const char* token = nullptr;
    size_t length = 0;
    if (!nextToken(s, token, length))
        return refuse(s, lastTokenEnd(s), section, item, component, "the file ends too early");
    if (!parseIntegerToken(value, token, length))
        return refuse(s, token, section, item, component, notAnInteger(token, length));
    return true;
}

bool readRealItem(float& value, TextScanner& s, const char* section, long item, char component) {
    const char* token = nullptr;
    size_t length = 0;
    if (!nextToken(s, token, length))
        return refuse(s, lastTokenEnd(s), section, item, component, "the file ends too early");
    switch (parseRealToken(value, token, length)) {
    case RealTokenStatus::ok:
        return true;
    case RealTokenStatus::noNumber:
        return refuse(s, token, section, item, component,
                      quoted(token, length) + " is not a number");
    case RealTokenStatus::notFinite:
        return refuse(s, token, section, item, component,
                      quoted(token, length) + " is not a finite 32-bit float");
    case RealTokenStatus::tooLong:
        break;
    }
    return refuse(s, token, section, item, component,
                  "a token of " + std::to_string(length) + " characters is longer than " +
                      std::to_string(maxRealTokenLength));
}

} // namespace

TextScanner makeScanner(const char* data, size_t size, const char* fileName, std::string& error,
                        uint64_t memoryLeft, long firstLine) {
    return TextScanner{data, data, data + size, fileName, &error, memoryLeft, firstLine};
}

bool checkTextStart(TextScanner& scanner) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(scanner.cursor);
    const size_t size = size_t(scanner.end - scanner.cursor);
    if (size >= 3 && p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF)
        return refuseFile(scanner, "the file starts with a UTF-8 byte-order mark; save it as "
                                   "plain text without one");
    if (size >= 2 && ((p[0] == 0xFF && p[1] == 0xFE) || (p[0] == 0xFE && p[1] == 0xFF) ||
                      ((p[0] == 0) != (p[1] == 0))))
        return refuseFile(scanner, "the file looks like UTF-16 text; save it as plain text "
                                   "(ASCII or UTF-8)");
    for (const char* q = scanner.cursor; q < scanner.end; ++q)
        if (!isTokenSpace(*q))
            return true;
    return refuseFile(scanner, "the file is empty");
}

bool parseIntegerToken(int32_t& value, const char* token, size_t length) {
    const char* p = token;
    const char* end = token + length;
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) {
        negative = *p == '-';
        ++p;
    }
    if (p == end)
        return false;
    int base = 10;
    if (*p == '0') {
        if (end - p >= 2 && (p[1] == 'x' || p[1] == 'X')) {
            base = 16;
            p += 2;
            if (p == end)
                return false; // "0x" alone
        } else {
            base = 8;
        }
    }
    // Magnitude limit: 2^31 for a negative value, 2^31 − 1 otherwise.
    const uint64_t limit = negative ? uint64_t(1) << 31 : (uint64_t(1) << 31) - 1;
    uint64_t magnitude = 0;
    for (; p < end; ++p) {
        const int digit = hexDigitValue(*p);
        if (digit < 0 || digit >= base)
            return false;
        magnitude = magnitude * uint64_t(base) + uint64_t(digit);
        if (magnitude > limit)
            return false;
    }
    value = negative ? static_cast<int32_t>(-static_cast<int64_t>(magnitude))
                     : static_cast<int32_t>(magnitude);
    return true;
}

RealTokenStatus parseRealToken(float& value, const char* token, size_t length) {
    if (length > maxRealTokenLength)
        return RealTokenStatus::tooLong;
    // Plain decimals (the whole token) are converted by from_chars, correctly rounded as
    // strtod rounds them. What it does not take wholly (a numeric prefix before other
    // characters, a leading '+', hexadecimal, a value out of double's range) goes through
    // the C library, as atof would.
    double converted = 0.0;
    const char* end = token + length;
    const std::from_chars_result plain = std::from_chars(token, end, converted);
    if (plain.ec != std::errc() || plain.ptr != end) {
        char buffer[maxRealTokenLength + 1];
        std::memcpy(buffer, token, length);
        buffer[length] = '\0';
        char* stop = nullptr;
        converted = std::strtod(buffer, &stop);
        if (stop == buffer)
            return RealTokenStatus::noNumber;
    }
    const float rounded = static_cast<float>(converted);
    if (!std::isfinite(rounded))
        return RealTokenStatus::notFinite;
    value = rounded;
    return RealTokenStatus::ok;
}

bool readCount(int32_t& count, TextScanner& scanner, const char* section, ItemNoun items,
               int tokensPerItem, uint64_t bytesPerItem) {
    const char* token = nullptr;
    size_t length = 0;
    if (!nextToken(scanner, token, length))
        return refuse(scanner, lastTokenEnd(scanner), section, -1, 0, "the file ends too early");
    int32_t value = 0;
    if (!parseIntegerToken(value, token, length))
        return refuse(scanner, token, section, -1, 0, notAnInteger(token, length));
    if (value < 0)
        return refuse(scanner, token, section, -1, 0,
                      "the count " + std::to_string(value) + " is negative");
    const uint64_t needed = uint64_t(value) * uint64_t(tokensPerItem) * 2;
    const uint64_t left = uint64_t(scanner.end - scanner.cursor);
    if (needed > left)
        return refuse(scanner, token, section, -1, 0,
                      "the file ends before the " + countOf(value, items.one, items.many) +
                          " that the count announces");
    const uint64_t bytes = uint64_t(value) * bytesPerItem;
    if (bytes > scanner.memoryLeft)
        return refuse(scanner, token, section, -1, 0,
                      countOf(value, items.one, items.many) + (value == 1 ? " needs " : " need ") +
                          formatBytes(bytes) + "; " + formatBytes(scanner.memoryLeft) +
                          " are available");
    scanner.memoryLeft -= bytes;
    count = value;
    return true;
}
bool readPoints(Vector3* points, int32_t count, TextScanner& scanner, const char* section) {
    for (int32_t i = 0; i < count; ++i) {
        Vector3& p = points[i];
        if (!readRealItem(p.x, scanner, section, i, 'x') ||
            !readRealItem(p.y, scanner, section, i, 'y') ||
            !readRealItem(p.z, scanner, section, i, 'z'))
            return false;
    }
    return true;
}

bool readTexCoords(TexCoord* texCoords, int32_t count, TextScanner& scanner, const char* section) {
    for (int32_t i = 0; i < count; ++i) {
        TexCoord& t = texCoords[i];
        if (!readRealItem(t.u, scanner, section, i, 'u') ||
            !readRealItem(t.v, scanner, section, i, 'v'))
            return false;
    }
    return true;
}

bool readTriangles(Triangle* triangles, int32_t count, int32_t vertexCount, bool swapWinding,
                   TextScanner& scanner, const char* section, const char* meshName) {
    static const char names[3] = {'a', 'b', 'c'};
    // File order a b c goes to slots 0 2 1 when the winding is swapped.
    const int slots[3] = {0, swapWinding ? 2 : 1, swapWinding ? 1 : 2};
    for (int32_t i = 0; i < count; ++i) {
        for (int k = 0; k < 3; ++k) {
            const char* at = scanner.cursor;
            int32_t index = 0;
            if (!readIntegerItem(index, scanner, section, i, names[k]))
                return false;
            if (index < 0 || index >= vertexCount) {
                while (at < scanner.end && isTokenSpace(*at))
                    ++at;
                return refuse(scanner, at, section, i, names[k],
                              "index " + std::to_string(index) + " is outside the " + meshName +
                                  " (" + countOf(vertexCount, "vertex", "vertices") + ")");
            }
            triangles[i].index[slots[k]] = index;
        }
    }
    return true;
}

bool refuseFile(TextScanner& scanner, const char* what) {
    *scanner.error = std::string(scanner.fileName) + ": " + what;
    return false;
}

bool nextContentLine(const char*& cursor, const char* end, long& line, const char*& start,
                     const char*& stop) {
    while (cursor < end) {
        start = cursor;
        stop = start;
        while (stop < end && *stop != '\n' && *stop != '\r')
            ++stop;
        cursor = stop;
        if (cursor < end)
            cursor += *cursor == '\r' && cursor + 1 < end && cursor[1] == '\n' ? 2 : 1;
        ++line;
        const char* first = start;
        while (first < stop && isTokenSpace(*first))
            ++first;
        if (first < stop && *first != '#')
            return true;
    }
    return false;
}

void lineTokens(std::vector<LineToken>& tokens, const char* start, const char* stop) {
    tokens.clear();
    for (const char* p = start; p < stop;) {
        if (isTokenSpace(*p)) {
            ++p;
            continue;
        }
        const char* q = p;
        while (q < stop && !isTokenSpace(*q))
            ++q;
        tokens.push_back({p, size_t(q - p)});
        p = q;
    }
}
