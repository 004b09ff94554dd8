# The SDL backend's portable parts, built here on the test backend.
target_sources(test_sdl PRIVATE ${PROJECT_SOURCE_DIR}/src/platform/sdl/windows_text.cpp)
