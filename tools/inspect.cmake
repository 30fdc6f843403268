# face-inspect: summary and dumps of a face model file.
add_executable(face-inspect ${CMAKE_CURRENT_SOURCE_DIR}/face_inspect.cpp)
# facecore calls GL, so the tool links it although it never draws.
target_link_libraries(face-inspect PRIVATE facecore ${FACE_WINDOW_GL})
target_compile_options(face-inspect PRIVATE ${FACE_WARNINGS})
