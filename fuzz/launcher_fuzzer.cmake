# The launcher's preference-file parsing and path utilities.
add_fuzzer(launcher_fuzzer ${CMAKE_CURRENT_LIST_DIR}/launcher_fuzzer.cpp)
target_link_libraries(launcher_fuzzer PRIVATE launcher_core)
