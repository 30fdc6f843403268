// Regular files mapped read-only into memory, for the readers and decoders that parse from a
// buffer, and whole files written at once, for the writers. Every reader opens its file here, so
// none blocks on a FIFO, reads a device without end or copies a huge file before looking at it.
#pragma once

#include <cstddef>
#include <string>

// A file's bytes, mapped while the record lives (unmapped by its destructor).
struct FileContents {
    const char* data = nullptr; // size bytes (not zero-terminated); null when size is 0
    size_t size = 0;

    FileContents() = default;
    FileContents(const FileContents&) = delete;
    FileContents& operator=(const FileContents&) = delete;
    ~FileContents();
};

// Opens fileName without blocking (O_NONBLOCK, so a FIFO without a writer does not wait),
// checks with fstat what it is, and maps it read-only into contents (which must be empty).
// Returns false, with contents left empty and one line in error, for
//   "<file>: cannot open (<reason>)"
//   "<file>: not a regular file (a directory)" (or "(a FIFO)", "(a device)", "(a socket)")
//   "<file>: the file is <size>, more than half of the <available> of memory available"
//   "<file>: cannot read (<reason>)"
// The size bound: every reader turns the text or pixels it reads into arrays at least as
// large as the file (a model token of two bytes becomes a 4-byte value; a TGA's pixels are
// decoded into two buffers), so a file over half the memory available to the process
// (io/memory_budget.h) could never be used, and is refused before a byte of it is read.
// The file must not shrink while it is mapped (the process would get SIGBUS).
bool openFileContents(FileContents& contents, const char* fileName, std::string& error);

// Makes the folder that fileName lies in, and any missing folders above it. Returns false
// with one line in error ("<file>: cannot be written (<reason>)") when it cannot.
bool makeFolderFor(const char* fileName, std::string& error);

// Writes size bytes of data as the file fileName, replacing it, after making its folder and
// any missing folders above it (makeFolderFor). Returns false with one line in error,
//   "<file>: cannot be written (<reason>)"
// naming the system's reason (a folder that cannot be made, no permission, no space left).
bool writeFileContents(const char* fileName, const void* data, size_t size, std::string& error);
