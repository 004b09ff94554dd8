# The WAV decoder, checked against sox; the SDL backend's conversion of its samples to the
# device's format, against the system's SDL2.
if(TARGET test_wave)
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(SDL2 REQUIRED IMPORTED_TARGET sdl2)
  target_sources(test_wave PRIVATE ${PROJECT_SOURCE_DIR}/src/platform/sdl/sound_samples.cpp)
  target_link_libraries(test_wave PRIVATE PkgConfig::SDL2)
endif()
