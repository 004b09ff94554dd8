# The author tools' cores: the checker, the page pictures' play and PNGs, and bexu-pack's
# plan and archive writers. Built natively beside the tools, and into the studio's wasm
# (tools/studio). Their deflate comes from `bexu_deflate`, which the includer defines:
# zlib natively, pako in the studio (tools/studio/core/zlib_pako.cpp).
set(tools_dir ${CMAKE_CURRENT_LIST_DIR})

# What more than one tool has: the BMP writer, the progress line, colours as written.
add_library(bexu_tool_common STATIC ${tools_dir}/common/bmp_writer.cpp
  ${tools_dir}/common/progress.cpp ${tools_dir}/common/colour_text.cpp)
target_include_directories(bexu_tool_common PUBLIC ${tools_dir})

# How the tools show texts: quoted, escaped, as JSON (bexu-studio's listing too).
add_library(bexu_check_text STATIC ${tools_dir}/check/check_text.cpp)
target_include_directories(bexu_check_text PUBLIC ${tools_dir})

# Sounds are checked by the players' own wave decoder, which the headless backend holds.
add_library(bexu_check_core STATIC ${tools_dir}/check/story_check.cpp
  ${tools_dir}/check/check_output.cpp ${tools_dir}/check/story_files.cpp
  ${tools_dir}/check/author_traps.cpp ${tools_dir}/check/windows_sound.cpp
  ${tools_dir}/check/story_paths.cpp)
target_include_directories(bexu_check_core PUBLIC ${tools_dir} ${PROJECT_SOURCE_DIR}/src)
target_link_libraries(bexu_check_core PUBLIC bexu_check_text ${BEXU_GAME_LIBRARIES}
                      bexu_platform_headless)

add_library(bexu_shot_core STATIC ${tools_dir}/shot/story_shots.cpp ${tools_dir}/shot/shot_index.cpp
  ${tools_dir}/shot/png_writer.cpp)
target_include_directories(bexu_shot_core PUBLIC ${tools_dir} ${PROJECT_SOURCE_DIR}/src)
target_link_libraries(bexu_shot_core PUBLIC bexu_check_core ${BEXU_GAME_LIBRARIES}
                      bexu_platform_headless bexu_deflate bexu_tool_common)

add_library(bexu_pack_core STATIC ${tools_dir}/pack/story_contents.cpp
  ${tools_dir}/pack/release_texts.cpp ${tools_dir}/pack/release_plan.cpp
  ${tools_dir}/pack/archive_entry.cpp ${tools_dir}/pack/zip_writer.cpp
  ${tools_dir}/pack/tar_writer.cpp ${tools_dir}/pack/web_story_writer.cpp
  ${tools_dir}/pack/web_archive.cpp ${tools_dir}/pack/lossless_wave_encoder.cpp)
target_include_directories(bexu_pack_core PUBLIC ${tools_dir})
# The web archive's pictures are PNGs made by bexu-shot's writer.
target_link_libraries(bexu_pack_core PUBLIC bexu_check_core bexu_shot_core bexu_deflate
                      bexu_tool_common)
