# SDL2 from the system (Debian's libsdl2-dev): window, input, audio and message boxes.
find_package(SDL2 CONFIG QUIET)
if(TARGET SDL2::SDL2)
  target_link_libraries(bexu_platform_sdl PUBLIC SDL2::SDL2)
else()
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(SDL2 REQUIRED IMPORTED_TARGET sdl2)
  target_link_libraries(bexu_platform_sdl PUBLIC PkgConfig::SDL2)
endif()
# The window's title is set through Xlib too, beside SDL (window_title.cpp).
find_package(X11 REQUIRED)
target_link_libraries(bexu_platform_sdl PUBLIC X11::X11)
# Window classes by name, shared with the other backends that keep their own windows.
target_sources(bexu_platform_sdl PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/platform/window_classes/window_classes.cpp)
