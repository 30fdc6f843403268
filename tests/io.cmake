set(TEST_IO_SOURCES model_file_test.cpp prop_test.cpp texture_test.cpp)
