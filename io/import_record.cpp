#include "io/import_record.h"

#include "io/file_contents.h"
#include "io/messages.h"
#include "io/text_scanner.h"

#include <sys/stat.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>

namespace {

std::string quoted(const LineToken& token) {
    return "\"" + std::string(token.text, std::min<size_t>(token.length, 40)) + "\"";
}

// Where the record is read: the cursor, and the number of the line last returned.
struct LineReader {
    const char* cursor;
    const char* end;
    long line;
    const char* fileName;
    std::string* error;
};

bool fail(LineReader& r, const std::string& what) {
    return lineError(*r.error, r.fileName, r.line, what);
}

// The next line, which must be "<key>" and values values (any number when values < 0).
bool expect(LineReader& r, std::vector<LineToken>& tokens, const char* key, int values,
            const char* form) {
    const char *start = nullptr, *stop = nullptr;
    if (!nextContentLine(r.cursor, r.end, r.line, start, stop))
        return lineError(*r.error, r.fileName, r.line,
                         std::string("the record ends before \"") + form + "\"");
    lineTokens(tokens, start, stop);
    if (tokens[0].length != std::strlen(key) ||
        std::memcmp(tokens[0].text, key, tokens[0].length) != 0 ||
        (values >= 0 && tokens.size() != size_t(values) + 1) || (values < 0 && tokens.size() < 2))
        return fail(r, std::string("expected \"") + form + "\", found " + quoted(tokens[0]));
    return true;
}

bool integer(LineReader& r, int64_t& value, const LineToken& token, int64_t minimum,
             int64_t maximum) {
    const std::from_chars_result read =
        std::from_chars(token.text, token.text + token.length, value);
    if (read.ec != std::errc() || read.ptr != token.text + token.length)
        return fail(r, quoted(token) + " is not an integer");
    if (value < minimum || value > maximum)
        return fail(r, quoted(token) + " is out of range (" + std::to_string(minimum) + " to " +
                           std::to_string(maximum) + ")");
    return true;
}

bool real(LineReader& r, float& value, const LineToken& token) {
    if (parseRealToken(value, token.text, token.length) != RealTokenStatus::ok)
        return fail(r, quoted(token) + " is not a finite number");
    return true;
}

} // namespace

bool writeImportRecord(const char* fileName, const ImportRecord& record, std::string& error) {
    std::string out =
        "# face-import: how data/retarget.model was made, for face-inspect --export-scene\n";
    char line[256];
    out += "source " + record.source + "\n";
    out += "absolute " + record.absolute + "\n";
    out += "size " + std::to_string(record.size) + "\n";
    out += "modified " + std::to_string(record.modifiedSeconds) + " " +
           std::to_string(record.modifiedNanoseconds) + "\n";
    out += "meshes " + std::to_string(record.meshes.size()) + "\n";
    for (size_t m = 0; m < record.meshes.size(); ++m) {
        out += "mesh " + std::to_string(record.meshes[m]) + " " +
               std::to_string(record.meshVertices[m]) + "\ntransform";
        for (int r = 0; r < 4; ++r)
            for (int c = 0; c < 4; ++c) {
                std::snprintf(line, sizeof line, " %.9g", record.meshTransforms[m].m[4 * c + r]);
                out += line;
            }
        out += "\n";
    }
    std::snprintf(line, sizeof line, "scale %.9g\n", record.scale);
    out += line;
    for (const float* row : record.rotation) {
        std::snprintf(line, sizeof line, "rotation %.9g %.9g %.9g\n", row[0], row[1], row[2]);
        out += line;
    }
    std::snprintf(line, sizeof line, "centre %.9g %.9g %.9g\n", record.centre.x, record.centre.y,
                  record.centre.z);
    out += line;
    out += "vertices " + std::to_string(record.renderVertex.size()) + "\n";
    for (int32_t v : record.renderVertex)
        out += std::to_string(v) + "\n";
    return writeFileContents(fileName, out.data(), out.size(), error);
}

bool readImportRecord(ImportRecord& record, const char* fileName, std::string& error) {
    FileContents contents;
    if (!openFileContents(contents, fileName, error) ||
        !readImportRecordBuffer(record, contents.data, contents.size, fileName, error))
        return false;
    const std::string name = fileName;
    const size_t slash = name.rfind('/');
    record.folder = slash == std::string::npos ? "" : name.substr(0, slash);
    return true;
}

bool readImportRecordBuffer(ImportRecord& record, const char* data, size_t size,
                            const char* fileName, std::string& error) {
    LineReader r{data, data + size, 0, fileName, &error};
    std::vector<LineToken> t;
    ImportRecord read;
    int64_t value = 0;

    if (!expect(r, t, "source", -1, "source <path>"))
        return false;
    // A path is the rest of its line from its first character on, as written.
    read.source.assign(t[1].text, size_t(t.back().text + t.back().length - t[1].text));
    if (!expect(r, t, "absolute", -1, "absolute <path>"))
        return false;
    read.absolute.assign(t[1].text, size_t(t.back().text + t.back().length - t[1].text));
    if (!expect(r, t, "size", 1, "size <bytes>") || !integer(r, value, t[1], 0, INT64_MAX))
        return false;
    read.size = uint64_t(value);
    if (!expect(r, t, "modified", 2, "modified <seconds> <nanoseconds>") ||
        !integer(r, read.modifiedSeconds, t[1], INT64_MIN, INT64_MAX) ||
        !integer(r, read.modifiedNanoseconds, t[2], 0, 999999999))
        return false;
    int64_t meshCount = 0;
    if (!expect(r, t, "meshes", 1, "meshes <count>") || !integer(r, meshCount, t[1], 1, 1 << 20))
        return false;
    int64_t total = 0;
    for (int64_t m = 0; m < meshCount; ++m) {
        int64_t index = 0, count = 0;
        if (!expect(r, t, "mesh", 2, "mesh <index> <vertex count>") ||
            !integer(r, index, t[1], 0, INT32_MAX) || !integer(r, count, t[2], 0, INT32_MAX))
            return false;
        read.meshes.push_back(int32_t(index));
        read.meshVertices.push_back(int32_t(count));
        Matrix4 transform;
        if (!expect(r, t, "transform", 16, "transform <16 values, row by row>"))
            return false;
        for (int k = 0; k < 16; ++k)
            if (!real(r, transform.m[4 * (k % 4) + k / 4], t[size_t(k) + 1]))
                return false;
        read.meshTransforms.push_back(transform);
        total += count;
    }
    if (!expect(r, t, "scale", 1, "scale <s>") || !real(r, read.scale, t[1]))
        return false;
    for (float* row : read.rotation)
        if (!expect(r, t, "rotation", 3, "rotation <x> <y> <z>") || !real(r, row[0], t[1]) ||
            !real(r, row[1], t[2]) || !real(r, row[2], t[3]))
            return false;
    if (!expect(r, t, "centre", 3, "centre <x> <y> <z>") || !real(r, read.centre.x, t[1]) ||
        !real(r, read.centre.y, t[2]) || !real(r, read.centre.z, t[3]))
        return false;
    int64_t vertices = 0;
    if (!expect(r, t, "vertices", 1, "vertices <count>") ||
        !integer(r, vertices, t[1], 0, INT32_MAX))
        return false;
    if (vertices != total)
        return fail(r, "the meshes have " + std::to_string(total) + " vertices, not " +
                           std::to_string(vertices));
    // At least two bytes a row: a short record never asks for a large array.
    if (uint64_t(vertices) * 2 > uint64_t(r.end - r.cursor))
        return fail(r, "the record ends before the " + std::to_string(vertices) +
                           " vertices that the count announces");
    read.renderVertex.reserve(size_t(vertices));
    const char *start = nullptr, *stop = nullptr;
    for (int64_t v = 0; v < vertices; ++v) {
        if (!nextContentLine(r.cursor, r.end, r.line, start, stop))
            return fail(r, "the record ends after " + std::to_string(v) + " of its " +
                               std::to_string(vertices) + " vertices");
        lineTokens(t, start, stop);
        if (t.size() != 1)
            return fail(r, "expected one render vertex, found " + std::to_string(t.size()) +
                               " values");
        if (!integer(r, value, t[0], -1, INT32_MAX))
            return false;
        read.renderVertex.push_back(int32_t(value));
    }
    record = std::move(read);
    return true;
}

Vector3 sourcePosition(const ImportRecord& record, const Vector3& p) {
    const float(*R)[3] = record.rotation;
    const Vector3 q = p / record.scale;
    return record.centre + Vector3{R[0][0] * q.x + R[1][0] * q.y + R[2][0] * q.z,
                                   R[0][1] * q.x + R[1][1] * q.y + R[2][1] * q.z,
                                   R[0][2] * q.x + R[1][2] * q.y + R[2][2] * q.z};
}

Vector3 modelPosition(const ImportRecord& record, const Vector3& p) {
    const float(*R)[3] = record.rotation;
    const Vector3 q = p - record.centre;
    return record.scale * Vector3{R[0][0] * q.x + R[0][1] * q.y + R[0][2] * q.z,
                                  R[1][0] * q.x + R[1][1] * q.y + R[1][2] * q.z,
                                  R[2][0] * q.x + R[2][1] * q.y + R[2][2] * q.z};
}

Vector3 sourceDirection(const ImportRecord& record, const Vector3& n) {
    const float(*R)[3] = record.rotation;
    return {R[0][0] * n.x + R[1][0] * n.y + R[2][0] * n.z,
            R[0][1] * n.x + R[1][1] * n.y + R[2][1] * n.z,
            R[0][2] * n.x + R[1][2] * n.y + R[2][2] * n.z};
}

bool sourceUnchanged(const ImportRecord& record, std::string& error) {
    struct stat status;
    if (stat(record.absolute.c_str(), &status) != 0)
        return fileError(error, record.absolute,
                         std::string("cannot be read (") + std::strerror(errno) +
                             "); the import record names it as the source");
    if (uint64_t(status.st_size) != record.size ||
        int64_t(status.st_mtim.tv_sec) != record.modifiedSeconds ||
        int64_t(status.st_mtim.tv_nsec) != record.modifiedNanoseconds)
        return fileError(error, record.absolute,
                         "changed since the import (size " + std::to_string(status.st_size) +
                             ", was " + std::to_string(record.size) +
                             "; or its modification time differs): import it again");
    return true;
}
