# The hostile sounds reach SDL's wave loader only through the SDL player.
list(GET BEXU_BACKENDS 0 hostile_player_backend)
if(hostile_player_backend STREQUAL "sdl")
  target_compile_definitions(test_hostile PRIVATE BEXU_SDL_PLAYER="$<TARGET_FILE:bexu>")
endif()
