set(TEST_GEOMETRY_SOURCES geometry_test.cpp camera_test.cpp normals_test.cpp)
