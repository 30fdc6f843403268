#include "tools/fit/face_fit.h"
