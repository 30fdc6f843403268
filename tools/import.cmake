# face-import: a data folder for the viewer from a mesh in any format assimp reads, with an
# automatic control mesh (meshoptimizer). It builds the face model for its summary, so it
# links GL too: OSMesa, which needs no display (and comes before GLU, which then calls it).
pkg_check_modules(ASSIMP REQUIRED IMPORTED_TARGET assimp)
pkg_check_modules(FACE_OSMESA REQUIRED IMPORTED_TARGET osmesa)
find_package(meshoptimizer REQUIRED)
set(FACE_OFFSCREEN_GL PkgConfig::FACE_OSMESA OpenGL::GLU)

add_executable(face-import
    ${CMAKE_CURRENT_SOURCE_DIR}/face_import.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/face_import_cage.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/face_import_mesh.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/face_import_write.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/model_summary.cpp)
target_link_libraries(face-import PRIVATE facecore PkgConfig::ASSIMP meshoptimizer::meshoptimizer
                      ${FACE_OFFSCREEN_GL})
target_compile_options(face-import PRIVATE ${FACE_WARNINGS})

# face-inspect's shared summary, OBJ export, pose files and binding picture (OSMesa).
target_sources(face-inspect PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/model_export.cpp
               ${CMAKE_CURRENT_SOURCE_DIR}/model_summary.cpp)
target_link_libraries(face-inspect PRIVATE ${FACE_OFFSCREEN_GL})
