
# The smoothing stretch runs side by side with pixman's bilinear scaler, its baseline.
find_package(PkgConfig REQUIRED)
pkg_check_modules(PIXMAN REQUIRED IMPORTED_TARGET pixman-1)
target_link_libraries(bench_stretch PRIVATE PkgConfig::PIXMAN)

# The checker runs side by side with the player's own reading of the same script.
if(headless IN_LIST BEXU_BACKENDS)
  target_link_libraries(bench_check_story PRIVATE bexu_check_core)
endif()

# Wave decoding runs side by side with SDL's loader, the Linux player's way before.
# A build without the SDL backend (the ARM cross build) has no SDL to compare with.
if(sdl IN_LIST BEXU_BACKENDS)
  pkg_check_modules(SDL2 REQUIRED IMPORTED_TARGET sdl2)
  target_sources(bench_wave_decode PRIVATE ${PROJECT_SOURCE_DIR}/src/platform/sdl/sound_samples.cpp)
  target_link_libraries(bench_wave_decode PRIVATE PkgConfig::SDL2)
  target_compile_definitions(bench_wave_decode PRIVATE BEXU_DEMO_DIR="${PROJECT_SOURCE_DIR}/examples/demo")
else()
  set_target_properties(bench_wave_decode PROPERTIES EXCLUDE_FROM_ALL ON)
endif()

# bexu-scene runs side by side with ImageMagick's convert doing the same fill; the
# photograph is written with the scene tests' encoder.
if(NOT CMAKE_CROSSCOMPILING) # the author tools are built natively only
  target_sources(bench_scene PRIVATE ${PROJECT_SOURCE_DIR}/tests/tools/picture_encode.cpp)
  target_include_directories(bench_scene PRIVATE ${PROJECT_SOURCE_DIR}/tests/tools)
  target_link_libraries(bench_scene PRIVATE bexu_scene_core)
  target_compile_definitions(bench_scene PRIVATE BEXU_SCENE_PROGRAM="$<TARGET_FILE:bexu-scene>")
  add_dependencies(bench_scene bexu-scene)
else()
  set_target_properties(bench_scene PROPERTIES EXCLUDE_FROM_ALL ON)
endif()
