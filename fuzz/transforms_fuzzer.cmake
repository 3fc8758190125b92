# Transform files (ITK text, MATLAB level-4 .mat) through the program's reading path.
add_fuzzer(transforms_fuzzer ${CMAKE_CURRENT_LIST_DIR}/transforms_fuzzer.cpp)
target_link_libraries(transforms_fuzzer PRIVATE volaccess_formats)
