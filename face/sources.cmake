set(FACE_SOURCES
    face/attachments.cpp
    face/draw.cpp
    face/face_model.cpp
    face/sample_index.cpp
    face/update.cpp
)
# The nearest-sample search is built on nanoflann's k-d tree (header-only, a system
# header: found on the default include path).
find_path(NANOFLANN_INCLUDE_DIR nanoflann.hpp REQUIRED)
