set(IO_SOURCES
    io/normals.cpp
)
