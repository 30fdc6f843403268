# The default data in data/, and its generator face-assets run as a program.
set(TEST_ASSETS_SOURCES assets_test.cpp)
