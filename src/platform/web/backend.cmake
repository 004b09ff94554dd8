# The browser backend (emscripten): the soft layer's SSE2 paths compile to wasm SIMD,
# so the stretch runs vectorised and stays bit-identical to the native player.
# The main loop keeps its C++ while loop: sleeping yields to the browser (ASYNCIFY).
# Every way to a sleep (the loop's pause, the fatal box's wait) is a direct call, so
# calls through pointers (the window procedure) need no unwinding: a smaller, faster wasm.
# Copies of pixel rows as the memory.copy instruction, not calls out to JavaScript.
target_compile_options(bexu_platform_web PRIVATE -msimd128 -msse2 -mbulk-memory)
# Bitmaps hold the canvas's own RGBA bytes, so frames go to the canvas unconverted.
target_compile_definitions(bexu_platform_web PUBLIC BEXU_SOFT_RGBA)
# The most memory the page may take, in bytes: 256 MiB.
set(BEXU_WEB_MEMORY_CAP 268435456 CACHE STRING "Wasm memory cap of the web player, bytes")
# The page fetches the story's data itself and hands each file over when the player
# opens it (web/files.cpp): the player calls on no file system, so emscripten builds none
# in. Memory may grow to a cap, beyond which allocations fail as on a full desktop heap.
target_link_options(bexu_platform_web INTERFACE
  -mbulk-memory -sASYNCIFY -sASYNCIFY_IGNORE_INDIRECT=1 -sENVIRONMENT=web -sEXIT_RUNTIME=1
  -sALLOW_MEMORY_GROWTH=1 -sINITIAL_MEMORY=33554432
  -sMAXIMUM_MEMORY=${BEXU_WEB_MEMORY_CAP} -sABORTING_MALLOC=0)
# The page that loads the story's data and the player; bexu-pack packs it with them.
configure_file(${CMAKE_CURRENT_LIST_DIR}/index.html ${CMAKE_BINARY_DIR}/index.html COPYONLY)
