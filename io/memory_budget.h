// How much memory the process can still take, so that data whose arrays could never fit is
// refused with a message before anything is allocated, and byte counts written for people.
#pragma once

#include <cstdint>
#include <string>

// "No limit": what availableMemoryBytes returns when neither figure can be read, and what
// the buffer readers assume when their caller gives no budget.
constexpr uint64_t unlimitedMemory = UINT64_MAX;

// Bytes the process can still allocate: the smaller of the memory the machine has available
// (MemAvailable in /proc/meminfo) and the room left under the address-space limit
// (RLIMIT_AS less the process's present virtual size, from /proc/self/statm). A figure that
// cannot be read imposes no limit. Reads two small files: cheap, but not for inner loops.
uint64_t availableMemoryBytes();

// The process's present virtual size in bytes (/proc/self/statm), what RLIMIT_AS counts;
// 0 when it cannot be read.
uint64_t virtualMemoryBytes();

// A byte count for messages, in powers of 1000 with one decimal: "512 bytes", "1.5 KB",
// "12.4 MB", "3.1 GB", "1.2 TB".
std::string formatBytes(uint64_t bytes);
