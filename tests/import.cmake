# face-import and face-inspect's exports, run as programs; assimp reads the source meshes
# independently of the tool.
pkg_check_modules(TEST_ASSIMP REQUIRED IMPORTED_TARGET assimp)
target_sources(face-tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/import_test.cpp)
target_link_libraries(face-tests PRIVATE PkgConfig::TEST_ASSIMP)
target_compile_definitions(face-tests PRIVATE FACE_IMPORT_PATH="$<TARGET_FILE:face-import>")
add_dependencies(face-tests face-import)
