set(TEST_IO_SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/model_file_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/prop_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/texture_test.cpp
)
