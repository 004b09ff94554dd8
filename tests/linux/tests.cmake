# End-to-end tests of the Linux player under Xvfb; only where the player is the SDL build.
# Screenshots and player logs of each case stay in build/tests/e2e-output/<case>.
list(GET BEXU_BACKENDS 0 e2e_player_backend)
if(NOT e2e_player_backend STREQUAL "sdl")
  return()
endif()

find_package(X11 REQUIRED)
add_executable(e2e_close_window ${CMAKE_CURRENT_LIST_DIR}/helper/close_window.cpp)
target_link_libraries(e2e_close_window PRIVATE X11::X11)
# Times what a player draws, from the X server's damage reports (the Linux and Wine cases).
add_executable(e2e_watch_window ${CMAKE_CURRENT_LIST_DIR}/helper/watch_window.cpp)
find_package(ZLIB REQUIRED)
target_link_libraries(e2e_watch_window PRIVATE X11::X11 X11::Xdamage ZLIB::ZLIB)

find_package(Python3 REQUIRED COMPONENTS Interpreter)
# The cases that hold for both Linux players run the self-contained one too.
set(e2e_static_player)
if(TARGET bexu-static)
  set(e2e_static_player --static-player $<TARGET_FILE:bexu-static>)
endif()
foreach(e2e_case play resize scenes close hold fatal titles sound_reopen seams idle)
  add_test(NAME e2e_${e2e_case}
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/run_e2e.py
      --player $<TARGET_FILE:bexu> --close-helper $<TARGET_FILE:e2e_close_window>
      --watch-helper $<TARGET_FILE:e2e_watch_window> ${e2e_static_player}
      --demo ${PROJECT_SOURCE_DIR}/examples/demo --case ${e2e_case}
      --out ${CMAKE_CURRENT_BINARY_DIR}/e2e-output/${e2e_case})
  set_tests_properties(e2e_${e2e_case} PROPERTIES TIMEOUT 240 LABELS e2e)
endforeach()

# The Linux release archive of bexu-pack, unpacked and started from elsewhere.
if(TARGET bexu-static)
  add_test(NAME e2e_pack
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/run_pack_e2e.py
      --pack $<TARGET_FILE:bexu-pack> --demo ${PROJECT_SOURCE_DIR}/examples/demo
      --out ${CMAKE_CURRENT_BINARY_DIR}/e2e-output/pack)
  set_tests_properties(e2e_pack PROPERTIES TIMEOUT 180 LABELS e2e)
endif()

# bexu-preview plays from a line of the demo, and again after the line is changed on disk.
# Its target is made by tools/, added after the tests: asked for by the condition tools/
# builds it under, not by the target.
if(headless IN_LIST BEXU_BACKENDS AND NOT CMAKE_CROSSCOMPILING)
  add_test(NAME e2e_preview
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/run_preview_e2e.py
      --preview $<TARGET_FILE:bexu-preview> --shot $<TARGET_FILE:bexu-shot>
      --demo ${PROJECT_SOURCE_DIR}/examples/demo
      --out ${CMAKE_CURRENT_BINARY_DIR}/e2e-output/preview)
  set_tests_properties(e2e_preview PROPERTIES TIMEOUT 180 LABELS e2e)
endif()
