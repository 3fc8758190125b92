# The compiler command gateway's argument handling through the substitute host.
add_fuzzer(zcc_fuzzer ${CMAKE_CURRENT_LIST_DIR}/zcc_fuzzer.cpp)
target_link_libraries(zcc_fuzzer PRIVATE zcc_gateway)
