#include "tools/fit/pose_transfer.h"
