#include "io/file_contents.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

bool readWholeFile(std::string& data, const char* fileName, std::string& error) {
    std::FILE* file = std::fopen(fileName, "rb");
    if (!file) {
        error = std::string(fileName) + ": cannot open (" + std::strerror(errno) + ")";
        return false;
    }
    std::string contents;
    bool ok = std::fseek(file, 0, SEEK_END) == 0;
    const long size = ok ? std::ftell(file) : -1;
    ok = ok && size >= 0 && std::fseek(file, 0, SEEK_SET) == 0;
    if (ok) {
        contents.resize(static_cast<size_t>(size));
        ok = std::fread(&contents[0], 1, contents.size(), file) == contents.size();
    }
    // Not seekable, or changed meanwhile: read it in pieces instead.
    if (!ok && !std::ferror(file)) {
        contents.clear();
        std::rewind(file);
        char piece[1 << 16];
        size_t got;
        while ((got = std::fread(piece, 1, sizeof piece, file)) > 0)
            contents.append(piece, got);
        ok = !std::ferror(file);
    }
    const int readErrno = errno;
    std::fclose(file);
    if (!ok) {
        error = std::string(fileName) + ": cannot read (" + std::strerror(readErrno) + ")";
        return false;
    }
    data.swap(contents);
    return true;
}
