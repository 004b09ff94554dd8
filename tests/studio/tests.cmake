# bexu-studio's serving rules, without the HTTP library: which request paths reach a
# file, what the story's listing holds, and the folder watch.
if(TARGET test_studio)
  target_link_libraries(test_studio PRIVATE bexu_studio_server)
endif()
