set(TEST_FACE_SOURCES
    ${CMAKE_SOURCE_DIR}/tools/synthetic_model.cpp
    attachments_test.cpp
    face_inspect_test.cpp
    face_model_test.cpp
    sample_index_test.cpp
    update_test.cpp
)
# The face-inspect tests run the tool; it must be built with the test binary (deferred:
# face-tests is created after this list is read).
cmake_language(DEFER CALL add_dependencies face-tests face-inspect)
