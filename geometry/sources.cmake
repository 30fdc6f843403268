set(GEOMETRY_SOURCES
    geometry/bezier.cpp
    geometry/camera.cpp
    geometry/grid.cpp
    geometry/matrix.cpp
    geometry/patches.cpp
    geometry/projection.cpp
)
