// stb_image's implementation for the fuzz targets (the viewer links the system's libstb).
#define STB_IMAGE_IMPLEMENTATION
#include <stb_image.h>
