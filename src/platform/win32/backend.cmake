# The native Windows backend: the system libraries it calls, a GUI-subsystem
# executable (no console), and the compiler's own runtime linked in so the
# program needs nothing but system DLLs.
target_compile_definitions(bexu_platform_win32 PRIVATE WIN32_LEAN_AND_MEAN NOMINMAX)
target_link_libraries(bexu_platform_win32 PUBLIC user32 gdi32 msimg32 winmm kernel32)
target_link_options(bexu_platform_win32 INTERFACE -mwindows -static -static-libgcc -static-libstdc++)
