#include "io/file_contents.h"

#include "io/memory_budget.h"
#include "io/messages.h"

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// What a file that is not regular is, for the message.
const char* kindOf(mode_t mode) {
    if (S_ISDIR(mode))
        return "a directory";
    if (S_ISFIFO(mode))
        return "a FIFO";
    if (S_ISSOCK(mode))
        return "a socket";
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return "a device";
    return "neither a file nor a directory";
}

} // namespace

FileContents::~FileContents() {
    if (data)
        munmap(const_cast<char*>(data), size);
}

bool openFileContents(FileContents& contents, const char* fileName, std::string& error) {
    const int fd = open(fileName, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int openErrno = errno;
        // A socket cannot be opened at all (ENXIO): say what it is.
        struct stat info;
        if (openErrno == ENXIO && stat(fileName, &info) == 0 && !S_ISREG(info.st_mode))
            return fileError(error, fileName,
                             std::string("not a regular file (") + kindOf(info.st_mode) + ")");
        return fileError(error, fileName,
                         std::string("cannot open (") + std::strerror(openErrno) + ")");
    }
    struct stat info;
    if (fstat(fd, &info) != 0) {
        const int statErrno = errno;
        close(fd);
        return fileError(error, fileName,
                         std::string("cannot read (") + std::strerror(statErrno) + ")");
    }
    if (!S_ISREG(info.st_mode)) {
        close(fd);
        return fileError(error, fileName,
                         std::string("not a regular file (") + kindOf(info.st_mode) + ")");
    }
    const uint64_t size = uint64_t(info.st_size);
    const uint64_t available = availableMemoryBytes();
    if (size > available / 2) {
        close(fd);
        return fileError(error, fileName,
                         "the file is " + formatBytes(size) + ", more than half of the " +
                             formatBytes(available) + " of memory available");
    }
    if (size == 0) {
        close(fd);
        return true;
    }
    void* mapped = mmap(nullptr, size_t(size), PROT_READ, MAP_PRIVATE, fd, 0);
    const int mapErrno = errno;
    close(fd);
    if (mapped == MAP_FAILED)
        return fileError(error, fileName,
                         std::string("cannot read (") + std::strerror(mapErrno) + ")");
    // The readers walk the file once from its start.
    madvise(mapped, size_t(size), MADV_SEQUENTIAL);
    contents.data = static_cast<const char*>(mapped);
    contents.size = size_t(size);
    return true;
}

bool makeFolderFor(const char* fileName, std::string& error) {
    const std::filesystem::path folder = std::filesystem::path(fileName).parent_path();
    std::error_code made;
    if (!folder.empty())
        std::filesystem::create_directories(folder, made);
    return !made || writeError(error, fileName, made.value());
}

namespace {

// The open batch, if any (openFileBatch).
FileBatch* openBatch = nullptr;

// The folder a path lies in ("." for a bare name) and its last part.
std::string folderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}
std::string nameOf(const std::string& path) { return path.substr(path.rfind('/') + 1); }

// A hidden name beside path not taken yet: ".NAME.XXXXXX" with six random letters; the
// caller creates it exclusively (a name taken meanwhile fails with EEXIST and is tried again).
std::string temporaryBeside(const std::string& path) {
    static const char letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    static uint64_t state = uint64_t(getpid()) * 0x9E3779B97F4A7C15ull ^ uint64_t(time(nullptr));
    std::string name = folderOf(path) + "/." + nameOf(path) + ".";
    for (int i = 0; i < 6; ++i) {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        name += letters[(state >> 33) % (sizeof letters - 1)];
    }
    return name;
}

// The permissions of a new file: 0666 less the umask (read without changing it for good).
mode_t newFileMode() {
    const mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

bool writeAll(int fd, const void* data, size_t size) {
    const char* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t written = write(fd, bytes, size);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        bytes += written;
        size -= size_t(written);
    }
    return true;
}

// The folder's entry made durable after a rename (a failure here loses nothing written).
void syncFolder(const std::string& folder) {
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        fsync(fd);
        close(fd);
    }
}

// The outcome of writing through an unnamed file.
enum class Unnamed { written, failed, unsupported };

// The bytes into an unnamed file in fileName's folder (O_TMPFILE), flushed to the disk; fd
// stays open. An interrupt leaves nothing behind. unsupported where the file system has no
// unnamed files or /proc is missing (nothing is written).
Unnamed writeUnnamed(int& fd, const char* fileName, mode_t mode, const void* data, size_t size,
                     std::string& error) {
    // An unnamed file is named later through /proc: without it, it never could be.
    if (access("/proc/self/fd", X_OK) != 0)
        return Unnamed::unsupported;
    fd = open(folderOf(fileName).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
    if (fd < 0) {
        if (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)
            return Unnamed::unsupported;
        return writeError(error, fileName, errno), Unnamed::failed;
    }
    // The first failure's reason: a short write sets errno, and so may the flush (a full
    // disk often shows only there).
    if (!writeAll(fd, data, size) || fsync(fd) != 0) {
        const int reason = errno;
        close(fd);
        fd = -1;
        return writeError(error, fileName, reason), Unnamed::failed;
    }
    return Unnamed::written;
}

// Names the unnamed file fd (writeUnnamed) with a new hidden name beside fileName
// (temporary), through /proc/self/fd, and closes it.
Unnamed linkUnnamed(std::string& temporary, int fd, const std::string& fileName,
                    std::string& error) {
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    for (int tries = 0; tries < 100; ++tries) {
        temporary = temporaryBeside(fileName);
        if (linkat(AT_FDCWD, self.c_str(), AT_FDCWD, temporary.c_str(), AT_SYMLINK_FOLLOW) == 0) {
            close(fd);
            return Unnamed::written;
        }
        if (errno != EEXIST) {
            const int reason = errno;
            close(fd);
            return writeError(error, fileName, reason), Unnamed::failed;
        }
    }
    close(fd);
    return writeError(error, fileName, EEXIST), Unnamed::failed;
}

// The bytes under a new hidden name beside fileName (temporary), created exclusively,
// flushed; removed again on failure.
bool writeNamed(std::string& temporary, const char* fileName, mode_t mode, const void* data,
                size_t size, std::string& error) {
    int fd = -1;
    for (int tries = 0; fd < 0 && tries < 100; ++tries) {
        temporary = temporaryBeside(fileName);
        fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd < 0 && errno != EEXIST)
            return writeError(error, fileName, errno);
    }
    if (fd < 0)
        return writeError(error, fileName, EEXIST);
    const bool written = writeAll(fd, data, size) && fchmod(fd, mode) == 0 && fsync(fd) == 0;
    const int reason = errno;
    if (close(fd) != 0 || !written) {
        unlink(temporary.c_str());
        return writeError(error, fileName, written ? errno : reason);
    }
    return true;
}

// Writes the bytes whole, flushed to the disk, with the permissions of the file they are to
// replace (or of a new file): into an unnamed file left open in fd where the file system has
// them (temporary empty), else under a new hidden name beside fileName (fd −1).
bool writeTemporary(int& fd, std::string& temporary, const char* fileName, const void* data,
                    size_t size, std::string& error) {
    struct stat existing;
    const mode_t mode = stat(fileName, &existing) == 0 && S_ISREG(existing.st_mode)
                            ? existing.st_mode & 07777
                            : newFileMode();
    temporary.clear();
    const Unnamed unnamed = writeUnnamed(fd, fileName, mode, data, size, error);
    if (unnamed != Unnamed::unsupported)
        return unnamed == Unnamed::written;
    fd = -1;
    return writeNamed(temporary, fileName, mode, data, size, error);
}

bool renameOver(const std::string& temporary, const std::string& fileName, std::string& error) {
    if (rename(temporary.c_str(), fileName.c_str()) != 0) {
        const int reason = errno;
        unlink(temporary.c_str());
        return writeError(error, fileName, reason);
    }
    syncFolder(folderOf(fileName));
    return true;
}

// Puts a file written by writeTemporary in place: names an unnamed one beside its
// destination, then renames it over the destination.
bool putInPlace(int fd, std::string temporary, const std::string& fileName, std::string& error) {
    if (fd >= 0) {
        if (linkUnnamed(temporary, fd, fileName, error) != Unnamed::written)
            return false;
    }
    return renameOver(temporary, fileName, error);
}

} // namespace

bool writeFileContents(const char* fileName, const void* data, size_t size, std::string& error) {
    if (!makeFolderFor(fileName, error))
        return false;
    int fd = -1;
    std::string temporary;
    if (!writeTemporary(fd, temporary, fileName, data, size, error))
        return false;
    if (openBatch) {
        openBatch->staged.push_back({fd, temporary, fileName});
        return true;
    }
    return putInPlace(fd, temporary, fileName, error);
}

FileBatch::~FileBatch() { discardFileBatch(*this); }

void openFileBatch(FileBatch& batch) {
    assert(!openBatch && "one batch at a time");
    batch.staged.clear();
    openBatch = &batch;
}

bool commitFileBatch(FileBatch& batch, std::string& error) {
    if (openBatch == &batch)
        openBatch = nullptr;
    bool committed = true;
    for (FileBatch::Staged& file : batch.staged) {
        if (committed)
            committed = putInPlace(file.fd, file.temporary, file.destination, error);
        else if (file.fd >= 0)
            close(file.fd);
        else
            unlink(file.temporary.c_str());
        file.fd = -1;
    }
    batch.staged.clear();
    return committed;
}

void discardFileBatch(FileBatch& batch) {
    if (openBatch == &batch)
        openBatch = nullptr;
    for (const FileBatch::Staged& file : batch.staged)
        if (file.fd >= 0)
            close(file.fd);
        else
            unlink(file.temporary.c_str());
    batch.staged.clear();
}

bool makeFolderBeside(std::string& folder, const char* fileName, std::string& error) {
    folder.clear();
    if (!makeFolderFor(fileName, error))
        return false;
    std::string made = folderOf(fileName) + "/." + nameOf(fileName) + ".XXXXXX";
    if (!mkdtemp(made.data()))
        return writeError(error, fileName, errno);
    folder = made;
    return true;
}

bool moveFolderFiles(const std::string& folder, const char* fileName, std::string& error) {
    // Every file the writer left, the main one last, each flushed before it takes its name.
    std::vector<std::string> names;
    std::error_code failed;
    for (const auto& entry : std::filesystem::directory_iterator(folder, failed))
        if (entry.path().filename() != nameOf(fileName))
            names.push_back(entry.path().filename().string());
    if (failed)
        return writeError(error, fileName, failed.value());
    std::sort(names.begin(), names.end());
    names.push_back(nameOf(fileName));
    const std::string destination = folderOf(fileName);
    for (const std::string& name : names) {
        const std::string from = folder + "/" + name, to = destination + "/" + name;
        const int fd = open(from.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            return writeError(error, to, errno);
        const bool synced = fsync(fd) == 0;
        const int reason = errno;
        close(fd);
        if (!synced)
            return writeError(error, to, reason);
        if (rename(from.c_str(), to.c_str()) != 0)
            return writeError(error, to, errno);
    }
    syncFolder(destination);
    return true;
}

void removeFolder(const std::string& folder) {
    std::error_code ignored;
    if (!folder.empty())
        std::filesystem::remove_all(folder, ignored);
}
