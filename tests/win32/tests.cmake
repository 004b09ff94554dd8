# The win32 backend's portable parts, built here on the test backend.
target_sources(test_win32 PRIVATE ${PROJECT_SOURCE_DIR}/src/platform/win32/bitmap_file.cpp)
