
# The smoothing stretch runs side by side with pixman's bilinear scaler, its baseline.
find_package(PkgConfig REQUIRED)
pkg_check_modules(PIXMAN REQUIRED IMPORTED_TARGET pixman-1)
target_link_libraries(bench_stretch PRIVATE PkgConfig::PIXMAN)
