set(GEOMETRY_SOURCES
    geometry/camera.cpp
    geometry/grid.cpp
    geometry/matrix.cpp
    geometry/patches.cpp
    geometry/projection.cpp
)
