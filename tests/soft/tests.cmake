# The BMP conformance test reads the suite's reference PNG images.
find_package(PNG REQUIRED)
target_link_libraries(test_soft PRIVATE PNG::PNG)
