// Scratch files for the reader and texture tests: a temporary directory that is removed
// with its files when the test ends.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <unistd.h>

class TempDir {
  public:
    TempDir() {
        char pattern[] = "/tmp/face-io-test-XXXXXX";
        const char* made = mkdtemp(pattern);
        EXPECT_NE(made, nullptr);
        path = made ? made : "/tmp";
    }
    ~TempDir() {
        for (const std::string& file : files)
            std::remove(file.c_str());
        rmdir(path.c_str());
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // Writes bytes (a std::string or a std::vector<uint8_t>) to <dir>/<name> and returns
    // the full path.
    template <class Bytes> std::string write(const std::string& name, const Bytes& bytes) {
        const std::string file = path + "/" + name;
        std::FILE* f = std::fopen(file.c_str(), "wb");
        EXPECT_NE(f, nullptr) << file;
        if (f) {
            EXPECT_EQ(bytes.empty() ? 0 : std::fwrite(bytes.data(), 1, bytes.size(), f),
                      bytes.size());
            std::fclose(f);
        }
        files.push_back(file);
        return file;
    }

    std::string path;

  private:
    std::vector<std::string> files;
};
