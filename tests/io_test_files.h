// Scratch files for the reader and texture tests.
#pragma once

#include "tests/support/temp_dir.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <unistd.h>

