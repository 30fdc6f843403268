// A temporary folder for one test: made empty, removed with everything in it when the test
// ends.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

class TempDir {
  public:
    TempDir() {
        char pattern[] = "/tmp/face-test-XXXXXX";
        const char* made = mkdtemp(pattern);
        EXPECT_NE(made, nullptr);
        path = made ? made : "/tmp/face-test-unmade";
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // Writes bytes (a std::string or a std::vector<uint8_t>) to <dir>/<name> and returns
    // the full path.
    template <class Bytes> std::string write(const std::string& name, const Bytes& bytes) {
        const std::string file = path + "/" + name;
        std::ofstream out(file, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        EXPECT_TRUE(out.good()) << file;
        return file;
    }

    std::string path;
};
