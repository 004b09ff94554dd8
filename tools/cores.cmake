# The author tools' cores: the checker, the page pictures' play and what bexu-pack packs.
# Built natively beside the tools, and into the studio's wasm (tools/studio), where the
# zlib parts (PNG and archive writing) stay out: the page does those.
set(tools_dir ${CMAKE_CURRENT_LIST_DIR})

# Sounds are checked with the desktop player's own wave reading.
add_library(bexu_check_core STATIC ${tools_dir}/check/story_check.cpp
  ${tools_dir}/check/check_output.cpp ${tools_dir}/check/story_files.cpp
  ${tools_dir}/check/check_text.cpp ${tools_dir}/check/author_traps.cpp
  ${PROJECT_SOURCE_DIR}/src/platform/sdl/wave_chunks.cpp)
target_include_directories(bexu_check_core PUBLIC ${tools_dir} ${PROJECT_SOURCE_DIR}/src)
target_link_libraries(bexu_check_core PUBLIC ${BEXU_GAME_LIBRARIES} bexu_platform_headless)

add_library(bexu_shot_core STATIC ${tools_dir}/shot/story_shots.cpp ${tools_dir}/shot/shot_index.cpp)
target_include_directories(bexu_shot_core PUBLIC ${tools_dir} ${PROJECT_SOURCE_DIR}/src)
target_link_libraries(bexu_shot_core PUBLIC bexu_check_core ${BEXU_GAME_LIBRARIES}
                      bexu_platform_headless)

add_library(bexu_pack_core STATIC ${tools_dir}/pack/story_contents.cpp
  ${tools_dir}/pack/release_texts.cpp ${tools_dir}/pack/release_plan.cpp)
target_include_directories(bexu_pack_core PUBLIC ${tools_dir})
target_link_libraries(bexu_pack_core PUBLIC bexu_check_core)
