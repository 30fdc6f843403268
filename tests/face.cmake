set(TEST_FACE_SOURCES
    support/synthetic_model.cpp
    attachments_test.cpp
    face_model_test.cpp
    sample_index_test.cpp
    update_test.cpp
)
