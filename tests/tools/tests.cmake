# The tools are run as built, beside the player; the checker's core is also
# linked in for the in-process robustness test. PNGs are read with libpng, and
# written with bexu-shot's writer for the font sheets kept in the build folder.
find_package(PNG REQUIRED)
add_dependencies(test_tools bexu-check bexu-shot bexu-font bexu-new bexu-headless)
target_sources(test_tools PRIVATE ${CMAKE_CURRENT_LIST_DIR}/../soft/png_reference.cpp)
target_include_directories(test_tools PRIVATE ${CMAKE_CURRENT_LIST_DIR}/../soft)
target_link_libraries(test_tools PRIVATE bexu_check_core bexu_shot_core PNG::PNG)
# bexu-pack makes its archives with the players of this build.
add_dependencies(test_tools bexu-pack bexu)
target_link_libraries(test_tools PRIVATE bexu_pack_core)
# The Windows build's look at a bitmap before its loader, asked about every corpus file.
target_sources(test_tools PRIVATE ${PROJECT_SOURCE_DIR}/src/platform/win32/bitmap_file.cpp)
