#include "io/text_scanner.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

// Longest piece of a bad token quoted in a message.
constexpr size_t maxQuotedLength = 40;

// Exact powers of ten in double: 10^22 is the largest one a double holds exactly.
constexpr int maxExactPowerOfTen = 22;
constexpr double exactPowersOfTen[maxExactPowerOfTen + 1] = {
    1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
    1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
// Integers up to 2^53 are exact in double.
constexpr uint64_t maxExactMantissa = uint64_t(1) << 53;
// Significant digits that surely fit in 64 bits.
constexpr int maxMantissaDigits = 19;

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

// Fast path for plain decimal tokens (sign, digits, point, exponent; the whole token):
// when the digits form an integer w ≤ 2^53 and the decimal exponent e has |e| ≤ 22, both w
// and 10^|e| are exact doubles and one IEEE multiplication or division rounds w·10^e
// correctly, which is exactly what strtod returns (Clinger's fast path). False when the token
// is anything else; the caller then converts it with strtod.
bool parsePlainDecimal(double& value, const char* p, const char* end) {
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) {
        negative = *p == '-';
        ++p;
    }
    uint64_t mantissa = 0;
    int significantDigits = 0;
    int digits = 0;
    int fractionDigits = 0;
    for (; p < end && isDigit(*p); ++p, ++digits) {
        if (mantissa != 0 || *p != '0') {
            mantissa = mantissa * 10 + uint64_t(*p - '0');
            ++significantDigits;
        }
    }
    if (p < end && *p == '.') {
        for (++p; p < end && isDigit(*p); ++p, ++digits, ++fractionDigits) {
            if (mantissa != 0 || *p != '0') {
                mantissa = mantissa * 10 + uint64_t(*p - '0');
                ++significantDigits;
            }
        }
    }
    if (digits == 0 || significantDigits > maxMantissaDigits)
        return false;
    int exponent = 0;
    if (p < end && (*p == 'e' || *p == 'E')) {
        ++p;
        bool negativeExponent = false;
        if (p < end && (*p == '+' || *p == '-')) {
            negativeExponent = *p == '-';
            ++p;
        }
        if (p == end || !isDigit(*p))
            return false;
        for (; p < end && isDigit(*p); ++p) {
            if (exponent > 100000)
                return false;
            exponent = exponent * 10 + (*p - '0');
        }
        if (negativeExponent)
            exponent = -exponent;
    }
    if (p != end)
        return false;
    double result;
    if (mantissa == 0) {
        result = 0.0;
    } else {
        const int power = exponent - fractionDigits;
        if (mantissa > maxExactMantissa || power > maxExactPowerOfTen ||
            power < -maxExactPowerOfTen)
            return false;
        result = static_cast<double>(mantissa);
        if (power >= 0)
            result = result * exactPowersOfTen[power];
        else
            result = result / exactPowersOfTen[-power];
    }
    value = negative ? -result : result;
    return true;
}

// 1-based line of position p.
long lineOf(const TextScanner& s, const char* p) {
    long line = 1;
    for (const char* q = s.begin; q < p; ++q)
        if (*q == '\n')
            ++line;
    return line;
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
        return refuse(s, token, section, item, component,
                      quoted(token, length) + " is not a 32-bit integer");
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

TextScanner makeScanner(const char* data, size_t size, const char* fileName, std::string& error) {
    return TextScanner{data, data, data + size, fileName, &error};
}

bool hasToken(const TextScanner& scanner) {
    for (const char* p = scanner.cursor; p < scanner.end; ++p)
        if (!isTokenSpace(*p))
            return true;
    return false;
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
    double converted;
    if (!parsePlainDecimal(converted, token, token + length)) {
        // Anything else (a numeric prefix before other characters, hexadecimal, inf, nan,
        // many digits, a large exponent) goes through the C library, as atof would.
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

bool readCount(int32_t& count, TextScanner& scanner, const char* section, int tokensPerItem) {
    const char* token = nullptr;
    size_t length = 0;
    if (!nextToken(scanner, token, length))
        return refuse(scanner, lastTokenEnd(scanner), section, -1, 0, "the file ends too early");
    int32_t value = 0;
    if (!parseIntegerToken(value, token, length))
        return refuse(scanner, token, section, -1, 0,
                      quoted(token, length) + " is not a 32-bit integer");
    if (value < 0)
        return refuse(scanner, token, section, -1, 0,
                      "the count " + std::to_string(value) + " is negative");
    const uint64_t needed = uint64_t(value) * uint64_t(tokensPerItem) * 2;
    const uint64_t left = uint64_t(scanner.end - scanner.cursor);
    if (needed > left)
        return refuse(scanner, token, section, -1, 0,
                      "the count " + std::to_string(value) + " needs at least " +
                          std::to_string(needed) + " more bytes but the file has " +
                          std::to_string(left));
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
                                  " (" + std::to_string(vertexCount) + " vertices)");
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
