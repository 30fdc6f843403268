# Tests of the default data in data/ and of its generator, face-assets, whose code (all but
# its main) is compiled in so that the tests can regenerate the data.
set(TEST_ASSETS_SOURCES
    assets_test.cpp
    ${CMAKE_SOURCE_DIR}/tools/face_assets_files.cpp
    ${CMAKE_SOURCE_DIR}/tools/face_assets_mesh.cpp
    ${CMAKE_SOURCE_DIR}/tools/face_assets_paint.cpp
    ${CMAKE_SOURCE_DIR}/tools/face_assets_props.cpp
    ${CMAKE_SOURCE_DIR}/tools/face_assets_shape.cpp
    ${CMAKE_SOURCE_DIR}/tools/face_assets_write.cpp
)
