// Regular files mapped read-only into memory, for the readers and decoders that parse from a
// buffer, and whole files written at once, for the writers. Every reader opens its file here, so
// none blocks on a FIFO, reads a device without end or copies a huge file before looking at it.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

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

// Writes size bytes of data as the file fileName, whole or not at all, after making its
// folder and any missing folders above it (makeFolderFor). The bytes go to an unnamed file in
// the destination's folder (O_TMPFILE; where the file system has none, a hidden temporary
// ".NAME.XXXXXX" removed on failure), are flushed to the disk, and only then take the
// destination's name in one rename: an interrupt, a crash, a full disk or a file-size limit
// at any moment leaves the earlier file as it was (or no file), never part of the new one.
// A new file gets the permissions 0666 less the umask, a replaced one keeps its own. Returns
// false with one line in error,
//   "<file>: cannot be written (<reason>)"
// naming the system's reason (a folder that cannot be made, no permission, no space left).
// While a FileBatch is open the file is only staged: see below.
bool writeFileContents(const char* fileName, const void* data, size_t size, std::string& error);

// Files that replace their destinations together. While a batch is open (openFileBatch),
// writeFileContents writes each file whole but does not put it in place: it stays an unnamed
// file, kept open, where the file system has them (an interrupted program leaves nothing),
// else a hidden temporary beside its destination. commitFileBatch then names and renames
// them all, in the order written; discardFileBatch (or a batch destroyed uncommitted)
// removes them and leaves every destination as it was. The renames take microseconds
// against the seconds of writing, so an interrupt almost always leaves the earlier files or
// the new ones; at worst some of each, every one whole. One batch at a time; its files are
// written by one thread at a time.
struct FileBatch {
    struct Staged {
        int fd;                // the unnamed file, open; −1 where it has a name already
        std::string temporary; // that name (hidden, beside the destination)
        std::string destination;
    };
    std::vector<Staged> staged;

    FileBatch() = default;
    FileBatch(const FileBatch&) = delete;
    FileBatch& operator=(const FileBatch&) = delete;
    ~FileBatch(); // discards what is staged and closes the batch
};

void openFileBatch(FileBatch& batch);

// Renames every staged file over its destination and closes the batch. Returns false with
// one line in error ("<destination>: cannot be written (<reason>)") at the first rename that
// fails; the files not yet renamed are removed.
bool commitFileBatch(FileBatch& batch, std::string& error);

// Removes every staged file and closes the batch.
void discardFileBatch(FileBatch& batch);

// Writes a file through a writer that takes a path of its own (a library's exporter): makes
// a hidden temporary folder beside fileName, into which write(folder + "/" + name) writes the
// file under its own name (and any files it adds beside it, as glTF's .bin), then moves each
// file the writer left there over the destination's folder, fileName last, and removes the
// temporary folder. On failure nothing is moved and the temporary folder is removed; error
// holds the writer's line, or "<file>: cannot be written (<reason>)".
template <class Writer>
bool writeThroughFolder(const char* fileName, std::string& error, Writer write);

// The parts of writeThroughFolder that need no template: the temporary folder made beside
// fileName (empty and false on failure), and the move of its files into place.
bool makeFolderBeside(std::string& folder, const char* fileName, std::string& error);
bool moveFolderFiles(const std::string& folder, const char* fileName, std::string& error);
void removeFolder(const std::string& folder);

template <class Writer>
bool writeThroughFolder(const char* fileName, std::string& error, Writer write) {
    std::string folder;
    if (!makeFolderBeside(folder, fileName, error))
        return false;
    const std::string name = std::string(fileName).substr(std::string(fileName).rfind('/') + 1);
    const bool written =
        write(folder + "/" + name, error) && moveFolderFiles(folder, fileName, error);
    removeFolder(folder);
    return written;
}
