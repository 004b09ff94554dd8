# The walls between the layers, checked at every build: each folder lists the includes it
# may not have. The engine sees no render, app or backend; render no app or backend; the
# soft pixel layer knows no story format; the author tools import nothing from the tests, the
# benchmarks or the developer instruments, in C++ or in Python.
# Run as: cmake -DROOT=<checkout> -P check_layers.cmake
set(rules
  "src/format|\"(engine|render|app|platform)/"
  "src/engine|\"(render|app)/|\"platform/(?!platform\\.h)"
  "src/render|\"app/|\"platform/(?!platform\\.h)"
  "src/app|\"platform/(?!platform\\.h)"
  "src/platform/soft|\"(engine|render|app|format)/"
  "tools|\"(support|tests|bench|instruments)/|\"\\.\\./")

set(broken "")
foreach(rule IN LISTS rules)
  string(REPLACE "|" ";" parts "${rule}")
  list(POP_FRONT parts folder)
  list(JOIN parts "|" forbidden)
  # CMake's regular expressions have no look-ahead: "platform/ other than platform.h" is
  # matched in two steps.
  string(REPLACE "\"platform/(?!platform\\.h)" "\"platform/" forbidden "${forbidden}")
  file(GLOB_RECURSE sources "${ROOT}/${folder}/*.cpp" "${ROOT}/${folder}/*.h")
  foreach(source IN LISTS sources)
    file(STRINGS "${source}" includes REGEX "^#include \"")
    foreach(line IN LISTS includes)
      if(line MATCHES "#include \"platform/platform\\.h\"")
        continue()
      endif()
      if(line MATCHES "${forbidden}")
        file(RELATIVE_PATH shown "${ROOT}" "${source}")
        string(APPEND broken "\n  ${shown}: ${line}")
      endif()
    endforeach()
  endforeach()
endforeach()
# A Python script reaches another folder through sys.path.
file(GLOB_RECURSE scripts "${ROOT}/tools/*.py")
foreach(script IN LISTS scripts)
  file(STRINGS "${script}" paths REGEX "sys\\.path.*(\"|/)(tests|bench|instruments)(\"|/)")
  foreach(line IN LISTS paths)
    file(RELATIVE_PATH shown "${ROOT}" "${script}")
    string(APPEND broken "\n  ${shown}: ${line}")
  endforeach()
endforeach()
if(broken)
  message(FATAL_ERROR "an include crosses a layer's wall:${broken}")
endif()
