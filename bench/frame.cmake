# The viewer's frame in an offscreen context (Mesa's software renderer).
pkg_check_modules(BENCH_OSMESA REQUIRED IMPORTED_TARGET osmesa)
add_executable(frame-bench ${CMAKE_CURRENT_SOURCE_DIR}/frame_bench.cpp)
target_link_libraries(frame-bench PRIVATE facecore PkgConfig::BENCH_OSMESA OpenGL::GLU
                      benchmark::benchmark)
target_compile_options(frame-bench PRIVATE ${FACE_WARNINGS})
