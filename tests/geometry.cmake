set(TEST_GEOMETRY_SOURCES geometry_test.cpp normals_test.cpp)
list(APPEND TEST_GEOMETRY_SOURCES patches_test.cpp)
list(APPEND TEST_GEOMETRY_SOURCES projection_test.cpp)
