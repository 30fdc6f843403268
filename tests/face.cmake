set(TEST_FACE_SOURCES
    support/synthetic_model.cpp
)
