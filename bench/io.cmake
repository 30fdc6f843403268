# Model reader throughput on a generated model of about a million render vertices.
add_executable(io-bench ${CMAKE_CURRENT_SOURCE_DIR}/io_bench.cpp)
target_link_libraries(io-bench PRIVATE facecore benchmark::benchmark)
target_compile_options(io-bench PRIVATE ${FACE_WARNINGS})
