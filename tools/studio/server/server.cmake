# bexu-studio: the studio and a story folder served on 127.0.0.1 with cpp-httplib
# (Debian: libcpp-httplib-dev). Built when the library is there; its serving rules and
# folder watch are built always, for the tests.
add_library(bexu_studio_server STATIC ${CMAKE_CURRENT_LIST_DIR}/served_files.cpp
            ${CMAKE_CURRENT_LIST_DIR}/folder_watch.cpp)
target_include_directories(bexu_studio_server PUBLIC ${PROJECT_SOURCE_DIR}/tools)
find_package(Threads REQUIRED)
target_link_libraries(bexu_studio_server PUBLIC bexu_check_text Threads::Threads)

find_package(PkgConfig QUIET)
if(PkgConfig_FOUND)
  pkg_check_modules(HTTPLIB QUIET IMPORTED_TARGET cpp-httplib)
endif()
if(NOT HTTPLIB_FOUND)
  message(STATUS "cpp-httplib not found: bexu-studio is not built")
  return()
endif()
set(BEXU_STUDIO_SITE_DIR "${PROJECT_SOURCE_DIR}/build-web/studio" CACHE PATH
  "The studio's site folder bexu-studio serves unless told another")
add_executable(bexu-studio ${CMAKE_CURRENT_LIST_DIR}/main.cpp)
target_link_libraries(bexu-studio PRIVATE bexu_studio_server PkgConfig::HTTPLIB)
target_compile_definitions(bexu-studio PRIVATE BEXU_STUDIO_SITE="${BEXU_STUDIO_SITE_DIR}")
set_target_properties(bexu-studio PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
