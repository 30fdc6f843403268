#include "io/take_file.h"

#include "io/file_contents.h"
#include "io/memory_budget.h"
#include "io/messages.h"
#include "io/text_scanner.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>
#include <unordered_set>
#include <utility>

const char* const takeRotationNames[takeRotationCount] = {
    "HeadYaw",     "HeadPitch",   "HeadRoll",      "LeftEyeYaw",  "LeftEyePitch",
    "LeftEyeRoll", "RightEyeYaw", "RightEyePitch", "RightEyeRoll"};

namespace {

constexpr int32_t expressionCount = arkitExpressionCount;
// Longest piece of a name or a value quoted in a message, and the most names a warning lists.
constexpr size_t maxQuotedLength = 40;
constexpr size_t maxListedNames = 8;
// Longest piece of the JSON parser's own message quoted.
constexpr size_t maxParserMessageLength = 200;
// A drop of the time of day larger than this is a roll-over past midnight, not time going
// backwards.
constexpr double secondsInDay = 86400.0, rollOverDrop = 43200.0;

bool isDigit(char c) { return c >= '0' && c <= '9'; }

char lowerCase(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }

// Whether [text, text + length) is name, ASCII letters compared without regard to case.
bool sameName(const char* text, size_t length, const char* name) {
    size_t i = 0;
    for (; i < length && name[i]; ++i)
        if (lowerCase(text[i]) != lowerCase(name[i]))
            return false;
    return i == length && !name[i];
}

int32_t expressionIndex(const char* text, size_t length) {
    for (int32_t e = 0; e < expressionCount; ++e)
        if (sameName(text, length, arkitExpressionNames[e]))
            return e;
    return -1;
}

int32_t rotationIndex(const char* text, size_t length) {
    for (int32_t r = 0; r < takeRotationCount; ++r)
        if (sameName(text, length, takeRotationNames[r]))
            return r;
    return -1;
}

// Text made printable for a one-line message: at most limit characters, each byte outside
// printable ASCII shown as '?'.
std::string printable(const char* text, size_t length, size_t limit = maxQuotedLength) {
    std::string shown;
    for (size_t i = 0; i < length && i < limit; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        shown += (c >= 0x20 && c < 0x7F) ? static_cast<char>(c) : '?';
    }
    if (length > limit)
        shown += "...";
    return shown;
}

std::string quoted(const char* text, size_t length) {
    return "\"" + printable(text, length) + "\"";
}

std::string number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

enum class NumberStatus { ok, noNumber, notFinite };

// A whole field as a decimal number (an optional sign, digits, a point, an exponent), finite.
NumberStatus parseNumber(double& value, const char* text, size_t length) {
    const char* p = text;
    const char* const end = text + length;
    if (p < end && *p == '+' && (p + 1 == end || p[1] != '-'))
        ++p;
    double read = 0.0;
    const std::from_chars_result result = std::from_chars(p, end, read);
    if (result.ptr != end || p == end)
        return NumberStatus::noNumber;
    if (result.ec != std::errc() || !std::isfinite(read))
        return NumberStatus::notFinite;
    value = read;
    return NumberStatus::ok;
}

// Where a message points: a line of a CSV take or a frame of a JSON one.
struct Place {
    const char* noun; // "line" or "frame"
    long index;
};

std::string placeText(Place at) { return std::string(at.noun) + " " + std::to_string(at.index); }

bool refuseAt(std::string& error, const char* fileName, Place at, const std::string& what) {
    error = std::string(fileName) + ", " + placeText(at) + ": " + what;
    return false;
}

// The take as it is read, with what the warnings will say.
struct TakeBuilder {
    const char* fileName;
    Take take;
    bool hasRotations = false;
    size_t capacity = 0; // frames the arrays are reserved for
    double firstTime = 0.0, lastTime = 0.0;
    uint64_t clamped = 0;
    std::string firstClamped;
    uint64_t held = 0;
    Place firstHeld{"line", 0};
    std::unordered_set<std::string> passedOverSeen;
    std::vector<std::string> passedOver; // the first maxListedNames, printable
};

// Notes a name passed over (a column, or a JSON take's blend shape), once; shown is how the
// warning names it.
void passOver(TakeBuilder& b, const std::string& name, const std::string& shown) {
    if (!b.passedOverSeen.insert(name).second)
        return;
    if (b.passedOver.size() < maxListedNames)
        b.passedOver.push_back(shown);
}

// Adds a frame at time seconds (on the layout's own clock), holding the last frame's
// weights and rotations (zeros for the first). Refuses time going backwards, and a take
// whose arrays would not fit in the memory available.
bool addFrame(TakeBuilder& b, double time, Place at, std::string& error) {
    Take& take = b.take;
    if (take.times.empty()) {
        b.firstTime = time;
    } else if (time < b.lastTime) {
        return refuseAt(error, b.fileName, at,
                        "time goes backwards, " + number(b.lastTime - time) +
                            " s before the previous frame");
    }
    const double sinceStart = time - b.firstTime;
    if (!std::isfinite(sinceStart))
        return refuseAt(error, b.fileName, at,
                        "the time " + number(time) + " s is too far from the first frame's");
    b.lastTime = time;
    const size_t frames = take.times.size();
    if (frames == b.capacity) {
        const size_t wanted = std::max<size_t>(64, 2 * b.capacity);
        const uint64_t bytesPerFrame = sizeof(double) + expressionCount * sizeof(float) +
                                       (b.hasRotations ? takeRotationCount * sizeof(float) : 0);
        const uint64_t available = availableMemoryBytes();
        if (frames >= size_t(std::numeric_limits<int32_t>::max()))
            return refuseAt(error, b.fileName, at, "a take has at most 2147483647 frames");
        if (uint64_t(wanted) * bytesPerFrame > available)
            return refuseAt(error, b.fileName, at,
                            countOf(int64_t(wanted), "frame", "frames") + " need " +
                                formatBytes(uint64_t(wanted) * bytesPerFrame) + "; " +
                                formatBytes(available) + " are available");
        take.times.reserve(wanted);
        take.weights.reserve(wanted * expressionCount);
        if (b.hasRotations)
            take.rotations.reserve(wanted * takeRotationCount);
        b.capacity = wanted;
    }
    take.times.push_back(sinceStart);
    take.weights.resize((frames + 1) * expressionCount, 0.0f);
    if (frames > 0)
        std::copy_n(&take.weights[(frames - 1) * expressionCount], expressionCount,
                    &take.weights[frames * expressionCount]);
    if (b.hasRotations) {
        take.rotations.resize((frames + 1) * takeRotationCount, 0.0f);
        if (frames > 0)
            std::copy_n(&take.rotations[(frames - 1) * takeRotationCount], takeRotationCount,
                        &take.rotations[frames * takeRotationCount]);
    }
    return true;
}

// A weight of expression e read at a place, clamped to the weights' range (and counted).
float clampedWeight(TakeBuilder& b, int32_t e, double value, Place at) {
    if (value >= lowestTakeWeight && value <= highestTakeWeight)
        return float(value);
    if (b.clamped++ == 0)
        b.firstClamped =
            std::string(arkitExpressionNames[e]) + " " + number(value) + " at " + placeText(at);
    return value < lowestTakeWeight ? lowestTakeWeight : highestTakeWeight;
}

// The take read: into take (replaced) with the warnings appended. The nouns name what was passed
// over ("column"/"columns" or "name"/"names") and the frames that held the last weights.
bool finishTake(TakeBuilder& b, Take& take, std::vector<std::string>& warnings,
                ItemNoun passedOverNoun, ItemNoun heldNoun) {
    const std::string file = b.fileName;
    std::vector<std::string> said;
    if (!b.passedOverSeen.empty()) {
        const size_t count = b.passedOverSeen.size();
        std::string line = file + ": " +
                           countOf(int64_t(count), passedOverNoun.one, passedOverNoun.many) +
                           " that " + (count == 1 ? "is" : "are") + " not ARKit's expressions " +
                           (count == 1 ? "is" : "are") + " ignored: ";
        for (size_t i = 0; i < b.passedOver.size(); ++i)
            line += (i ? ", " : "") + b.passedOver[i];
        if (count > b.passedOver.size())
            line += " and " + std::to_string(count - b.passedOver.size()) + " more";
        said.push_back(line);
    }
    if (b.held)
        said.push_back(file + ": " + countOf(int64_t(b.held), heldNoun.one, heldNoun.many) +
                       (b.held == 1 ? " holds" : " hold") + " the last weights (the first at " +
                       placeText(b.firstHeld) + ")");
    if (b.clamped)
        said.push_back(file + ": " + countOf(int64_t(b.clamped), "weight", "weights") +
                       " outside -1 to 2 " + (b.clamped == 1 ? "is" : "are") +
                       " clamped (the first: " + b.firstClamped + ")");
    b.take.frameCount = int32_t(b.take.times.size());
    take = std::move(b.take);
    warnings.insert(warnings.end(), said.begin(), said.end());
    return true;
}

// ---- CSV ----

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f'; }

// The next line of [cursor, end) that is not blank: [start, stop) without its line end
// ("\n", "\r\n" or a lone "\r"). Moves cursor past it and counts the lines passed in line.
bool nextRow(const char*& cursor, const char* end, long& line, const char*& start,
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
        for (const char* p = start; p < stop; ++p)
            if (!isBlank(*p))
                return true;
    }
    return false;
}

// The comma-separated fields of [start, stop), each without the blanks around it and
// without a pair of double quotes around it.
void splitFields(std::vector<LineToken>& fields, const char* start, const char* stop) {
    fields.clear();
    for (const char* p = start;;) {
        const char* q = p;
        while (q < stop && *q != ',')
            ++q;
        const char *a = p, *z = q;
        while (a < z && isBlank(*a))
            ++a;
        while (z > a && isBlank(z[-1]))
            --z;
        if (z - a >= 2 && *a == '"' && z[-1] == '"') {
            ++a;
            --z;
        }
        fields.push_back({a, size_t(z - a)});
        if (q == stop)
            break;
        p = q + 1;
    }
}

// "HH:MM:SS:FF" with an optional fraction of a frame ".fff", frames counted at 60 a second:
// the time of day in seconds.
bool parseTimecode(double& seconds, const char* text, size_t length) {
    const char* p = text;
    const char* const end = text + length;
    int parts[3] = {0, 0, 0};
    for (int& part : parts) {
        const char* digits = p;
        while (p < end && isDigit(*p) && p - digits < 2)
            part = part * 10 + (*p++ - '0');
        if (p == digits || p == end || *p != ':')
            return false;
        ++p;
    }
    const char* frame = p;
    while (p < end && isDigit(*p))
        ++p;
    if (p == frame || p - frame > 2)
        return false;
    if (p < end) {
        if (*p != '.')
            return false;
        const char* fraction = ++p;
        while (p < end && isDigit(*p))
            ++p;
        if (p == fraction || p != end)
            return false;
    }
    double frames = 0.0;
    if (std::from_chars(frame, end, frames).ptr != end)
        return false;
    if (parts[0] > 23 || parts[1] > 59 || parts[2] > 59 || !(frames < 60.0))
        return false;
    seconds = parts[0] * 3600.0 + parts[1] * 60.0 + parts[2] + frames / 60.0;
    return true;
}

// What a column of the header is.
enum class ColumnKind { passedOver, time, count, expression, rotation };

struct Column {
    ColumnKind kind = ColumnKind::passedOver;
    int32_t index = 0; // the expression's or the rotation's
    std::string name;  // as the header writes it
};

bool readCsv(Take& take, const char* data, const char* end, const char* fileName,
             std::vector<std::string>& warnings, std::string& error) {
    const char* cursor = data;
    long line = 0;
    const char *start = nullptr, *stop = nullptr;
    if (!nextRow(cursor, end, line, start, stop))
        return lineError(error, fileName, 1, "the file is empty (no header and no frame)");
    std::vector<LineToken> fields;
    splitFields(fields, start, stop);
    if (fields.size() > 1 && fields.back().length == 0)
        fields.pop_back(); // a trailing comma
    const long headerLine = line;

    bool liveLinkFace = false, plain = false;
    for (const LineToken& f : fields) {
        liveLinkFace = liveLinkFace || sameName(f.text, f.length, "Timecode");
        plain = plain || sameName(f.text, f.length, "time");
    }
    if (!liveLinkFace && !plain) {
        double value = 0.0;
        if (parseNumber(value, fields[0].text, fields[0].length) != NumberStatus::noNumber ||
            parseTimecode(value, fields[0].text, fields[0].length))
            return lineError(
                error, fileName, headerLine,
                "no header: the first line holds numbers, not the columns' names "
                "(Timecode,BlendShapeCount,EyeBlinkLeft,... or time,eyeBlinkLeft,...)");
        return lineError(error, fileName, headerLine,
                         "no header: the first line names no Timecode or time column "
                         "(Timecode,BlendShapeCount,EyeBlinkLeft,... or time,eyeBlinkLeft,...)");
    }
    const char* const timeName = liveLinkFace ? "Timecode" : "time";

    TakeBuilder b;
    b.fileName = fileName;
    b.take.named.assign(expressionCount, 0);
    std::vector<Column> columns(fields.size());
    size_t timeColumn = 0, countColumn = fields.size(); // fields.size(): none
    bool timeFound = false;
    std::vector<uint8_t> rotationFound(takeRotationCount, 0);
    for (size_t i = 0; i < fields.size(); ++i) {
        const LineToken& f = fields[i];
        Column& c = columns[i];
        c.name.assign(f.text, f.length);
        int32_t index = -1;
        if (!timeFound && sameName(f.text, f.length, timeName)) {
            c.kind = ColumnKind::time;
            timeColumn = i;
            timeFound = true;
        } else if (liveLinkFace && countColumn == fields.size() &&
                   sameName(f.text, f.length, "BlendShapeCount")) {
            c.kind = ColumnKind::count;
            countColumn = i;
        } else if ((index = expressionIndex(f.text, f.length)) >= 0 && !b.take.named[index]) {
            c.kind = ColumnKind::expression;
            c.index = index;
            b.take.named[index] = 1;
        } else if ((index = rotationIndex(f.text, f.length)) >= 0 && !rotationFound[index]) {
            c.kind = ColumnKind::rotation;
            c.index = index;
            rotationFound[index] = 1;
            b.hasRotations = true;
        } else {
            // A name not known, or known and given before: the first column of a name is read.
            const bool repeated = expressionIndex(f.text, f.length) >= 0 ||
                                  rotationIndex(f.text, f.length) >= 0 ||
                                  sameName(f.text, f.length, timeName) ||
                                  (liveLinkFace && sameName(f.text, f.length, "BlendShapeCount"));
            passOver(b, c.name, quoted(f.text, f.length) + (repeated ? " (repeated)" : ""));
        }
    }
    const size_t columnCount = columns.size();
    const auto columnLabel = [&](size_t i) {
        return printable(columns[i].name.data(), columns[i].name.size()) + " (column " +
               std::to_string(i + 1) + ")";
    };
    const auto valueError = [&](size_t i, const LineToken& f, NumberStatus status) {
        return lineError(error, fileName, line,
                         columnLabel(i) + ": " + quoted(f.text, f.length) +
                             (status == NumberStatus::noNumber ? " is not a number"
                                                               : " is not a finite number"));
    };

    double dayStart = 0.0; // the midnights a Live Link Face take has passed, in seconds
    while (nextRow(cursor, end, line, start, stop)) {
        const Place at{"line", line};
        splitFields(fields, start, stop);
        size_t n = fields.size();
        if (n == columnCount + 1 && fields.back().length == 0)
            --n; // a trailing comma
        // Tracking lost: a timecode and a count of 0, and nothing else (or only empty fields).
        bool lost = liveLinkFace && countColumn < n && timeColumn < n && n <= columnCount &&
                    fields[timeColumn].length > 0;
        if (lost) {
            double count = -1.0;
            lost = parseNumber(count, fields[countColumn].text, fields[countColumn].length) ==
                       NumberStatus::ok &&
                   count == 0.0;
            for (size_t i = 0; lost && i < n; ++i)
                lost = i == timeColumn || i == countColumn || fields[i].length == 0;
        }
        if (!lost && n != columnCount)
            return lineError(error, fileName, line,
                             countOf(int64_t(n), "field", "fields") + " where the header has " +
                                 countOf(int64_t(columnCount), "column", "columns"));
        const LineToken& timeField = fields[timeColumn];
        double time = 0.0;
        if (liveLinkFace) {
            if (!parseTimecode(time, timeField.text, timeField.length))
                return lineError(error, fileName, line,
                                 columnLabel(timeColumn) + ": " +
                                     quoted(timeField.text, timeField.length) +
                                     " is not a timecode HH:MM:SS:FF.fff (frames at 60 a second)");
            time += dayStart;
            if (!b.take.times.empty() && b.lastTime - time > rollOverDrop) {
                dayStart += secondsInDay; // past midnight
                time += secondsInDay;
            }
        } else {
            const NumberStatus status = parseNumber(time, timeField.text, timeField.length);
            if (status != NumberStatus::ok)
                return valueError(timeColumn, timeField, status);
        }
        if (!addFrame(b, time, at, error))
            return false;
        if (lost) {
            if (b.held++ == 0)
                b.firstHeld = at;
            continue;
        }
        for (size_t i = 0; i < columnCount; ++i) {
            const Column& c = columns[i];
            if (c.kind == ColumnKind::passedOver || c.kind == ColumnKind::time)
                continue;
            double value = 0.0;
            const NumberStatus status = parseNumber(value, fields[i].text, fields[i].length);
            if (status != NumberStatus::ok)
                return valueError(i, fields[i], status);
            if (c.kind == ColumnKind::expression) {
                b.take.weights[(b.take.times.size() - 1) * expressionCount + size_t(c.index)] =
                    clampedWeight(b, c.index, value, at);
            } else if (c.kind == ColumnKind::rotation) {
                if (!(std::fabs(value) <= std::numeric_limits<float>::max()))
                    return valueError(i, fields[i], NumberStatus::notFinite);
                b.take.rotations[(b.take.times.size() - 1) * takeRotationCount + size_t(c.index)] =
                    float(value);
            }
        }
    }
    if (b.take.times.empty())
        return lineError(error, fileName, headerLine + 1, "no frame after the header");
    return finishTake(b, take, warnings, {"column", "columns"},
                      {"row where tracking was lost", "rows where tracking was lost"});
}

// ---- JSON ----

using Json = nlohmann::json;

// The web tracker's list of frames is read as the parser meets its values, so that no
// document is built (a take of minutes is tens of megabytes of JSON): a level for each step
// of the expected nesting, and a depth counter for the values passed over (other keys of a
// frame or of a blend shape).
enum class JsonLevel { top, list, frame, shapes, shape, done };
enum class JsonKey { other, timestamp, blendshapes, categoryName, score };
enum class JsonValue { number, text, other };

struct FrameListState {
    TakeBuilder* b;
    std::string* error;
    JsonLevel level = JsonLevel::top;
    JsonKey pending = JsonKey::other; // the key whose value comes next
    long skipped = 0;                 // depth inside a value passed over
    long frame = 0;                   // the frame being read (the list's index)
    long shape = 0;                   // its blend shape being read
    bool timeGiven = false, shapesGiven = false;
    double timestamp = 0.0;
    float given[expressionCount] = {}; // the frame's weights by expression
    bool has[expressionCount] = {};    // which it gives
    std::string shapeName;
    bool nameGiven = false, scoreGiven = false;
    double score = 0.0;
};

bool refuseJson(FrameListState& s, const std::string& what) {
    if (s.level == JsonLevel::top || s.level == JsonLevel::done)
        return fileError(*s.error, s.b->fileName, what);
    return refuseAt(*s.error, s.b->fileName, Place{"frame", s.frame}, what);
}

std::string shapeLabel(const FrameListState& s) {
    return "blendshapes[" + std::to_string(s.shape) + "]";
}

bool notAFrameList(FrameListState& s) {
    return refuseJson(s, "not a list of frames [{\"timestamp\": MS, \"blendshapes\": "
                         "[{\"categoryName\": NAME, \"score\": W}, ...]}, ...]");
}

// A value that is not an object or a list (or one that is where a number or a string must
// be: value other).
bool jsonScalar(FrameListState& s, JsonValue value, double numeric, const std::string* text) {
    if (s.skipped > 0)
        return true;
    switch (s.level) {
    case JsonLevel::top:
        return notAFrameList(s);
    case JsonLevel::list:
        return refuseJson(s,
                          "a frame is not an object {\"timestamp\": MS, \"blendshapes\": [...]}");
    case JsonLevel::frame:
        if (s.pending == JsonKey::timestamp) {
            if (value != JsonValue::number)
                return refuseJson(s, "the timestamp is not a number");
            s.timestamp = numeric;
            s.timeGiven = true;
        } else if (s.pending == JsonKey::blendshapes) {
            return refuseJson(s, "blendshapes is not a list");
        }
        break;
    case JsonLevel::shapes:
        return refuseJson(s, shapeLabel(s) +
                                 " is not an object {\"categoryName\": NAME, \"score\": W}");
    case JsonLevel::shape:
        if (s.pending == JsonKey::categoryName) {
            if (value != JsonValue::text)
                return refuseJson(s, shapeLabel(s) + ": the categoryName is not a string");
            s.shapeName = *text;
            s.nameGiven = true;
        } else if (s.pending == JsonKey::score) {
            if (value != JsonValue::number)
                return refuseJson(s, shapeLabel(s) + ": the score is not a number");
            s.score = numeric;
            s.scoreGiven = true;
        }
        break;
    case JsonLevel::done:
        break;
    }
    s.pending = JsonKey::other;
    return true;
}

void jsonKey(FrameListState& s, const std::string& name) {
    if (s.skipped > 0)
        return;
    if (s.level == JsonLevel::frame)
        s.pending = name == "timestamp"     ? JsonKey::timestamp
                    : name == "blendshapes" ? JsonKey::blendshapes
                                            : JsonKey::other;
    else // JsonLevel::shape
        s.pending = name == "categoryName" ? JsonKey::categoryName
                    : name == "score"      ? JsonKey::score
                                           : JsonKey::other;
}

// The start of an object (or of a list).
bool jsonOpen(FrameListState& s, bool object) {
    if (s.skipped > 0) {
        ++s.skipped;
        return true;
    }
    switch (s.level) {
    case JsonLevel::top:
        if (object)
            return notAFrameList(s);
        s.level = JsonLevel::list;
        break;
    case JsonLevel::list:
        if (!object)
            return jsonScalar(s, JsonValue::other, 0.0, nullptr);
        s.level = JsonLevel::frame;
        s.pending = JsonKey::other;
        s.timeGiven = s.shapesGiven = false;
        std::fill(s.has, s.has + expressionCount, false);
        s.shape = 0;
        break;
    case JsonLevel::frame:
        if (s.pending == JsonKey::blendshapes && !object) {
            s.level = JsonLevel::shapes;
            s.shapesGiven = true;
        } else if (s.pending == JsonKey::timestamp || s.pending == JsonKey::blendshapes) {
            return jsonScalar(s, JsonValue::other, 0.0, nullptr);
        } else {
            s.skipped = 1;
        }
        break;
    case JsonLevel::shapes:
        if (!object)
            return jsonScalar(s, JsonValue::other, 0.0, nullptr);
        s.level = JsonLevel::shape;
        s.pending = JsonKey::other;
        s.nameGiven = s.scoreGiven = false;
        break;
    case JsonLevel::shape:
        if (s.pending == JsonKey::categoryName || s.pending == JsonKey::score)
            return jsonScalar(s, JsonValue::other, 0.0, nullptr);
        s.skipped = 1;
        break;
    case JsonLevel::done:
        break;
    }
    return true;
}

// A blend shape read whole: its weight kept for the frame (clamped as it is read, so that
// the warning names this frame), "_neutral" passed over silently, another name noted.
bool finishShape(FrameListState& s) {
    if (!s.nameGiven)
        return refuseJson(s, shapeLabel(s) + " has no categoryName");
    if (!s.scoreGiven)
        return refuseJson(s, shapeLabel(s) + " has no score");
    TakeBuilder& b = *s.b;
    const int32_t e = expressionIndex(s.shapeName.data(), s.shapeName.size());
    if (e >= 0) {
        s.given[e] = clampedWeight(b, e, s.score, Place{"frame", s.frame});
        s.has[e] = true;
        b.take.named[size_t(e)] = 1;
    } else if (!sameName(s.shapeName.data(), s.shapeName.size(), "_neutral")) {
        passOver(b, s.shapeName, quoted(s.shapeName.data(), s.shapeName.size()));
    }
    return true;
}

// A frame read whole: added at its time, the expressions it names set, the others held.
bool finishFrame(FrameListState& s) {
    if (!s.timeGiven)
        return refuseJson(s, "no timestamp");
    if (!s.shapesGiven)
        return refuseJson(s, "no blendshapes");
    TakeBuilder& b = *s.b;
    const Place at{"frame", s.frame};
    if (!addFrame(b, s.timestamp / 1000.0, at, *s.error))
        return false;
    bool any = false;
    float* weights = &b.take.weights[(b.take.times.size() - 1) * expressionCount];
    for (int32_t e = 0; e < expressionCount; ++e)
        if (s.has[e]) {
            weights[e] = s.given[e];
            any = true;
        }
    if (!any && b.held++ == 0)
        b.firstHeld = at;
    return true;
}

// The end of an object (or of a list).
bool jsonClose(FrameListState& s) {
    if (s.skipped > 0) {
        if (--s.skipped == 0)
            s.pending = JsonKey::other;
        return true;
    }
    switch (s.level) {
    case JsonLevel::list:
        s.level = JsonLevel::done;
        break;
    case JsonLevel::frame:
        s.level = JsonLevel::list;
        if (!finishFrame(s))
            return false;
        ++s.frame;
        break;
    case JsonLevel::shapes:
        s.level = JsonLevel::frame;
        s.pending = JsonKey::other;
        break;
    case JsonLevel::shape:
        s.level = JsonLevel::shapes;
        if (!finishShape(s))
            return false;
        ++s.shape;
        break;
    case JsonLevel::top:
    case JsonLevel::done:
        break;
    }
    return true;
}

// The parser's calls (nlohmann's SAX interface, a template parameter: no virtual calls),
// each passed to the functions above.
struct FrameListEvents {
    using number_integer_t = Json::number_integer_t;
    using number_unsigned_t = Json::number_unsigned_t;
    using number_float_t = Json::number_float_t;
    using string_t = Json::string_t;
    using binary_t = Json::binary_t;

    FrameListState* s;

    bool null() { return jsonScalar(*s, JsonValue::other, 0.0, nullptr); }
    bool boolean(bool) { return jsonScalar(*s, JsonValue::other, 0.0, nullptr); }
    bool number_integer(number_integer_t value) {
        return jsonScalar(*s, JsonValue::number, double(value), nullptr);
    }
    bool number_unsigned(number_unsigned_t value) {
        return jsonScalar(*s, JsonValue::number, double(value), nullptr);
    }
    bool number_float(number_float_t value, const string_t&) {
        return jsonScalar(*s, JsonValue::number, value, nullptr);
    }
    bool string(string_t& value) { return jsonScalar(*s, JsonValue::text, 0.0, &value); }
    bool binary(binary_t&) { return jsonScalar(*s, JsonValue::other, 0.0, nullptr); }
    bool start_object(std::size_t) { return jsonOpen(*s, true); }
    bool start_array(std::size_t) { return jsonOpen(*s, false); }
    bool end_object() { return jsonClose(*s); }
    bool end_array() { return jsonClose(*s); }
    bool key(string_t& name) {
        jsonKey(*s, name);
        return true;
    }
    // The parser's own message, without its "[json.exception.parse_error.101] " and made
    // printable (it quotes what it last read).
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& failure) {
        std::string what = failure.what();
        const size_t prefix = what.find("] ");
        if (prefix != std::string::npos)
            what.erase(0, prefix + 2);
        return refuseJson(*s, "not JSON: " +
                                  printable(what.data(), what.size(), maxParserMessageLength));
    }
};

bool readJson(Take& take, const char* data, const char* end, const char* fileName,
              std::vector<std::string>& warnings, std::string& error) {
    TakeBuilder b;
    b.fileName = fileName;
    b.take.named.assign(expressionCount, 0);
    FrameListState state;
    state.b = &b;
    state.error = &error;
    FrameListEvents events{&state};
    bool parsed = false;
    try {
        parsed = Json::sax_parse(data, end, &events);
    } catch (const Json::exception&) {
        return fileError(error, fileName, "not JSON");
    }
    if (!parsed)
        return false;
    if (state.level != JsonLevel::done)
        return fileError(error, fileName, "not JSON: the list of frames does not end");
    if (b.take.times.empty())
        return fileError(error, fileName, "no frame (the list of frames is empty)");
    return finishTake(b, take, warnings, {"name", "names"},
                      {"frame without blend shapes", "frames without blend shapes"});
}

} // namespace

bool readTakeFile(Take& take, const char* fileName, std::vector<std::string>& warnings,
                  std::string& error) {
    FileContents contents;
    return openFileContents(contents, fileName, error) &&
           readTakeBuffer(take, contents.data, contents.size, fileName, warnings, error);
}

bool readTakeBuffer(Take& take, const char* data, size_t size, const char* fileName,
                    std::vector<std::string>& warnings, std::string& error) {
    const char* begin = data;
    const char* const end = data + size;
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(data);
    if (size >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF)
        begin += 3; // a UTF-8 byte-order mark, as spreadsheets write it
    else if (size >= 2 &&
             ((bytes[0] == 0xFF && bytes[1] == 0xFE) || (bytes[0] == 0xFE && bytes[1] == 0xFF) ||
              ((bytes[0] == 0) != (bytes[1] == 0))))
        return lineError(error, fileName, 1,
                         "the file looks like UTF-16 text; save it as UTF-8 (or ASCII)");
    const char* first = begin;
    while (first < end && isTokenSpace(*first))
        ++first;
    if (first < end && (*first == '[' || *first == '{'))
        return readJson(take, begin, end, fileName, warnings, error);
    return readCsv(take, begin, end, fileName, warnings, error);
}

int32_t takeFrameAt(const Take& take, double seconds) {
    if (take.frameCount <= 0)
        return -1;
    const auto after =
        std::upper_bound(take.times.begin(), take.times.begin() + take.frameCount, seconds);
    return std::max<int32_t>(0, int32_t(after - take.times.begin()) - 1);
}

double takeDuration(const Take& take) {
    return take.frameCount > 0 ? take.times[size_t(take.frameCount) - 1] : 0.0;
}

double takeRate(const Take& take) {
    const double duration = takeDuration(take);
    return take.frameCount > 1 && duration > 0.0 ? (take.frameCount - 1) / duration : 0.0;
}
