# The commands of the authoring guide, run in order on a scratch story with the built
# programs: a documented command that no longer runs, or no longer prints what the guide
# shows, fails here. Where the author tools are built (they need the headless backend).
if(NOT headless IN_LIST BEXU_BACKENDS)
  return()
endif()
find_package(Python3 REQUIRED COMPONENTS Interpreter)
add_test(NAME docs_authoring_commands
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/run_doc_commands.py
    --guide ${PROJECT_SOURCE_DIR}/docs/authoring.md --programs ${PROJECT_BINARY_DIR}
    --examples ${PROJECT_SOURCE_DIR}/examples)
set_tests_properties(docs_authoring_commands PROPERTIES TIMEOUT 300 LABELS docs)
