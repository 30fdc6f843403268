set(TEST_FACE_SOURCES
    ${CMAKE_SOURCE_DIR}/tools/synthetic_model.cpp
    attachments_test.cpp
    face_inspect_test.cpp
    face_model_test.cpp
    sample_index_test.cpp
    update_test.cpp
)
