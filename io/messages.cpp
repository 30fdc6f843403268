#include "io/messages.h"

#include <cstdio>
#include <cstring>

bool fileError(std::string& error, const std::string& fileName, const std::string& what) {
    error = fileName + ": " + what;
    return false;
}

bool lineError(std::string& error, const std::string& fileName, long line,
               const std::string& what) {
    error = fileName + ", line " + std::to_string(line) + ": " + what;
    return false;
}

bool writeError(std::string& error, const std::string& fileName, int errnum) {
    return fileError(error, fileName,
                     std::string("cannot be written (") + std::strerror(errnum) + ")");
}

int refuse(const char* program, const std::string& line) {
    std::fprintf(stderr, "%s: %s\n", program, line.c_str());
    return 1;
}
