set(TEST_APP_SOURCES viewer_test.cpp wire_cube_test.cpp dragger_test.cpp prop_frame_test.cpp face_draw_test.cpp scene_test.cpp end_to_end_test.cpp)
