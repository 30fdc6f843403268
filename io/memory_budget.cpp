#include "io/memory_budget.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <sys/resource.h>
#include <unistd.h>

namespace {

// MemAvailable from /proc/meminfo in bytes, or unlimitedMemory.
uint64_t machineAvailable() {
    std::FILE* file = std::fopen("/proc/meminfo", "r");
    if (!file)
        return unlimitedMemory;
    uint64_t result = unlimitedMemory;
    char line[256];
    unsigned long long kilobytes = 0;
    while (std::fgets(line, sizeof line, file))
        if (std::sscanf(line, "MemAvailable: %llu kB", &kilobytes) == 1) {
            result = uint64_t(kilobytes) * 1024;
            break;
        }
    std::fclose(file);
    return result;
}

// RLIMIT_AS less the present virtual size, in bytes, or unlimitedMemory.
uint64_t addressSpaceLeft() {
    rlimit limit{};
    if (getrlimit(RLIMIT_AS, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return unlimitedMemory;
    const uint64_t used = virtualMemoryBytes();
    return limit.rlim_cur > used ? uint64_t(limit.rlim_cur) - used : 0;
}

} // namespace

uint64_t virtualMemoryBytes() {
    uint64_t used = 0;
    if (std::FILE* file = std::fopen("/proc/self/statm", "r")) {
        unsigned long long pages = 0;
        if (std::fscanf(file, "%llu", &pages) == 1)
            used = uint64_t(pages) * uint64_t(sysconf(_SC_PAGESIZE));
        std::fclose(file);
    }
    return used;
}

uint64_t availableMemoryBytes() { return std::min(machineAvailable(), addressSpaceLeft()); }

std::string formatBytes(uint64_t bytes) {
    if (bytes < 1000)
        return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
    static const char* const units[] = {"KB", "MB", "GB", "TB", "PB", "EB"};
    double value = double(bytes) / 1000.0;
    int unit = 0;
    // Move up while the rounded figure would read 1000.0 or more.
    while (value >= 999.95 && unit + 1 < int(sizeof units / sizeof units[0])) {
        value /= 1000.0;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.1f %s", value, units[unit]);
    return text;
}
