# The wave chunk cut of the SDL backend, checked with the system's SDL2 loader.
if(TARGET test_wave)
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(SDL2 REQUIRED IMPORTED_TARGET sdl2)
  target_sources(test_wave PRIVATE ${PROJECT_SOURCE_DIR}/src/platform/sdl/wave_chunks.cpp)
  target_link_libraries(test_wave PRIVATE PkgConfig::SDL2)
endif()
# The web player's WAV decoder, built natively and checked against sox.
if(TARGET test_wave)
  target_sources(test_wave PRIVATE ${PROJECT_SOURCE_DIR}/src/platform/web/wave_decoder.cpp)
endif()
