# NIfTI headers and .nii / .nii.gz bytes through the program's reading path.
add_fuzzer(nifti_fuzzer ${CMAKE_CURRENT_LIST_DIR}/nifti_fuzzer.cpp)
target_link_libraries(nifti_fuzzer PRIVATE volaccess_engine)

# The same path for the other image formats, one target each.
foreach(format mgh nrrd mha)
  add_fuzzer(${format}_fuzzer ${CMAKE_CURRENT_LIST_DIR}/nifti_fuzzer.cpp)
  target_compile_definitions(${format}_fuzzer PRIVATE VOLACCESS_FUZZ_FORMAT="${format}")
  target_link_libraries(${format}_fuzzer PRIVATE volaccess_engine)
endforeach()
