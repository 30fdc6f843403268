// Helpers of the reader and texture tests: scratch folders and the check of one refusal.
#pragma once

#include "tests/support/temp_dir.h"

#include <string>

#include <gtest/gtest.h>

// A refusal: the reader returned false and its message is one line that begins with
// expected (the whole message where the row gives it whole).
inline void expectRefusal(bool accepted, const std::string& error, const std::string& expected) {
    EXPECT_FALSE(accepted) << expected;
    EXPECT_EQ(error.find('\n'), std::string::npos) << error;
    EXPECT_EQ(error.rfind(expected, 0), 0u) << "expected: " << expected << "\n     got: " << error;
}
