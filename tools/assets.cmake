# face-assets: the generator of the default data in data/ (face model, props, textures).
# Its code (all but main) is also compiled into the tests, which regenerate the data.
set(FACE_ASSETS_SOURCES
    ${CMAKE_CURRENT_SOURCE_DIR}/face_assets_files.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/face_assets_mesh.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/face_assets_paint.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/face_assets_props.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/face_assets_shape.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/face_assets_write.cpp)
add_executable(face-assets ${CMAKE_CURRENT_SOURCE_DIR}/face_assets.cpp ${FACE_ASSETS_SOURCES})
target_include_directories(face-assets PRIVATE ${CMAKE_SOURCE_DIR})
target_compile_options(face-assets PRIVATE ${FACE_WARNINGS})
