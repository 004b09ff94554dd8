# bexu-static: the Linux player for readers' machines, as bexu-pack packs it. SDL2,
# libstdc++ and libgcc are linked in from Debian's static libraries, and it names
# no library but glibc: Debian's libSDL2.a calls its drivers' libraries directly,
# so those calls go through trampolines that lazy_libraries.cpp binds when the
# player starts, to the X11 and ALSA libraries the machine has (left_out_drivers.cpp
# tells which drivers are not linked at all).
if(NOT TARGET SDL2::SDL2-static OR BEXU_SANITIZE OR NOT CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
  message(STATUS "bexu-static not built: no static SDL2, a sanitizer build, or not x86-64")
  return()
endif()

get_target_property(sdl_static_archive SDL2::SDL2-static IMPORTED_LOCATION)
set(lazy_libraries X11 Xext Xcursor Xi Xfixes Xrandr Xss asound) # as in lazy_libraries.cpp
set(lazy_library_paths)
foreach(name IN LISTS lazy_libraries)
  find_library(BEXU_LAZY_LIBRARY_${name} NAMES ${name})
  if(NOT BEXU_LAZY_LIBRARY_${name})
    message(STATUS "bexu-static not built: no lib${name}.so to read the functions of")
    return()
  endif()
  list(APPEND lazy_library_paths ${BEXU_LAZY_LIBRARY_${name}})
endforeach()

set(static_dir ${CMAKE_CURRENT_SOURCE_DIR}/platform/sdl_static)
set(lazy_symbols ${CMAKE_CURRENT_BINARY_DIR}/lazy_symbols.cpp)
add_custom_command(OUTPUT ${lazy_symbols}
  COMMAND sh ${static_dir}/lazy_symbols.sh ${lazy_symbols} ${sdl_static_archive}
    ${lazy_library_paths}
  DEPENDS ${static_dir}/lazy_symbols.sh ${sdl_static_archive}
  COMMENT "Trampolines for the functions libSDL2.a calls in the X11 and ALSA libraries")
# SDL's ALSA driver is offered through a wrapper that first asks for libasound: its
# definition is renamed in the driver's own member only, so that SDL's list of
# drivers names the wrapper.
set(sdl_renamed ${CMAKE_CURRENT_BINARY_DIR}/libSDL2-bexu.a)
set(alsa_member ${CMAKE_CURRENT_BINARY_DIR}/sdl-alsa/SDL_alsa_audio.o)
add_custom_command(OUTPUT ${sdl_renamed}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/sdl-alsa
  COMMAND ${CMAKE_COMMAND} -E copy ${sdl_static_archive} ${sdl_renamed}.new
  COMMAND ${CMAKE_AR} x --output ${CMAKE_CURRENT_BINARY_DIR}/sdl-alsa ${sdl_static_archive}
    SDL_alsa_audio.o
  COMMAND ${CMAKE_OBJCOPY} --redefine-sym ALSA_bootstrap=bexu_sdl_alsa_bootstrap ${alsa_member}
  COMMAND ${CMAKE_AR} rD ${sdl_renamed}.new ${alsa_member}
  COMMAND ${CMAKE_COMMAND} -E rename ${sdl_renamed}.new ${sdl_renamed}
  DEPENDS ${sdl_static_archive})
add_custom_target(bexu_sdl_renamed DEPENDS ${sdl_renamed})

get_target_property(sdl_backend_sources bexu_platform_sdl SOURCES)
add_library(bexu_platform_sdl_static STATIC ${sdl_backend_sources})
target_include_directories(bexu_platform_sdl_static PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_include_directories(bexu_platform_sdl_static PRIVATE
  $<TARGET_PROPERTY:SDL2::SDL2-static,INTERFACE_INCLUDE_DIRECTORIES>)

add_executable(bexu-static app/entry.cpp ${static_dir}/left_out_drivers.cpp
  ${static_dir}/lazy_libraries.cpp ${lazy_symbols})
add_dependencies(bexu-static bexu_sdl_renamed)
target_link_libraries(bexu-static PRIVATE ${BEXU_GAME_LIBRARIES} bexu_platform_sdl_static
  ${sdl_renamed} m dl pthread rt)
target_link_options(bexu-static PRIVATE -static-libstdc++ -static-libgcc -Wl,--as-needed -s)
set_target_properties(bexu-static PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
