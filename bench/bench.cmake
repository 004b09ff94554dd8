
# The smoothing stretch runs side by side with pixman's bilinear scaler, its baseline.
find_package(PkgConfig REQUIRED)
pkg_check_modules(PIXMAN REQUIRED IMPORTED_TARGET pixman-1)
target_link_libraries(bench_stretch PRIVATE PkgConfig::PIXMAN)

# The checker runs side by side with the player's own reading of the same script.
if(headless IN_LIST BEXU_BACKENDS)
  target_link_libraries(bench_check_story PRIVATE bexu_check_core)
endif()

# Wave decoding runs side by side with SDL's loader, the Linux player's way before.
pkg_check_modules(SDL2 REQUIRED IMPORTED_TARGET sdl2)
target_sources(bench_wave_decode PRIVATE ${PROJECT_SOURCE_DIR}/src/platform/sdl/sound_samples.cpp)
target_link_libraries(bench_wave_decode PRIVATE PkgConfig::SDL2)
target_compile_definitions(bench_wave_decode PRIVATE BEXU_DEMO_DIR="${PROJECT_SOURCE_DIR}/examples/demo")
