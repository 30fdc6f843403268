set(GEOMETRY_SOURCES
    geometry/bezier.cpp
    geometry/camera.cpp
    geometry/grid.cpp
    geometry/matrix.cpp
)
