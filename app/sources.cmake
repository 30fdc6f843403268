# Viewer code without GLUT (tested directly), and the GLUT layer of the executable.
set(APP_CORE_SOURCES
    app/degenerate_geometry.cpp
    app/dragger.cpp
    app/prop_frame.cpp
    app/scene.cpp
    app/viewer.cpp
    app/wire_cube.cpp
)
set(APP_MAIN_SOURCES
    app/main.cpp
)
