# face-assets: the generator of the default data in data/ (face model, props, textures).
add_executable(face-assets
    ${CMAKE_CURRENT_SOURCE_DIR}/face_assets.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/face_assets_files.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/face_assets_mesh.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/face_assets_paint.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/face_assets_props.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/face_assets_shape.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/face_assets_write.cpp)
target_include_directories(face-assets PRIVATE ${CMAKE_SOURCE_DIR})
# TGA files are written through stb_image_write, compiled into Debian's libstb.
target_link_libraries(face-assets PRIVATE PkgConfig::STB)
target_compile_options(face-assets PRIVATE ${FACE_WARNINGS})
