# Face model benchmarks: binding, per-frame update, default model load, peak memory.
add_executable(face-bench
    ${CMAKE_CURRENT_SOURCE_DIR}/face_bench.cpp
    ${CMAKE_SOURCE_DIR}/tools/synthetic_model.cpp)
target_link_libraries(face-bench PRIVATE facecore benchmark::benchmark)
target_include_directories(face-bench PRIVATE ${CMAKE_SOURCE_DIR})
target_compile_options(face-bench PRIVATE ${FACE_WARNINGS})
