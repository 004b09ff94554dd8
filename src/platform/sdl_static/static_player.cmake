# bexu-static: the Linux player for readers' machines, as bexu-pack packs it. SDL2,
# libstdc++ and libgcc are linked in from Debian's static libraries; it needs only
# glibc and the desktop's X11 and ALSA libraries (left_out_drivers.cpp says why).
if(NOT TARGET SDL2::SDL2-static OR BEXU_SANITIZE)
  message(STATUS "bexu-static not built: no static SDL2, or a sanitizer build")
  return()
endif()

get_target_property(sdl_backend_sources bexu_platform_sdl SOURCES)
add_library(bexu_platform_sdl_static STATIC ${sdl_backend_sources})
target_include_directories(bexu_platform_sdl_static PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(bexu_platform_sdl_static PUBLIC SDL2::SDL2-static)

add_executable(bexu-static app/entry.cpp platform/sdl_static/left_out_drivers.cpp)
target_link_libraries(bexu-static PRIVATE ${BEXU_GAME_LIBRARIES} bexu_platform_sdl_static)
# Libraries SDL lists but whose drivers are left out are not linked.
target_link_options(bexu-static PRIVATE -static-libstdc++ -static-libgcc -Wl,--as-needed -s)
set_target_properties(bexu-static PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
