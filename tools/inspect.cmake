# face-inspect: summary and dumps of a face model file.
add_executable(face-inspect ${CMAKE_CURRENT_SOURCE_DIR}/face_inspect.cpp)
# facecore calls GL; the tool draws offscreen (--picture), so import.cmake links OSMesa.
target_link_libraries(face-inspect PRIVATE facecore)
target_compile_options(face-inspect PRIVATE ${FACE_WARNINGS})
