set(FACE_SOURCES
    face/attachments.cpp
    face/draw.cpp
    face/face_model.cpp
    face/sample_index.cpp
    face/update.cpp
)
