#include "io/file_contents.h"

#include "io/memory_budget.h"
#include "io/messages.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
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

bool writeFileContents(const char* fileName, const void* data, size_t size, std::string& error) {
    if (!makeFolderFor(fileName, error))
        return false;
    std::FILE* file = std::fopen(fileName, "wb");
    if (!file)
        return writeError(error, fileName, errno);
    // The first failure's reason: a short write sets errno, and so does a failing close
    // (a full disk often shows only when the buffer is flushed).
    if (std::fwrite(data, 1, size, file) != size) {
        const int reason = errno;
        std::fclose(file);
        return writeError(error, fileName, reason);
    }
    if (std::fclose(file) != 0)
        return writeError(error, fileName, errno);
    return true;
}
