# NIfTI headers and .nii / .nii.gz bytes through the program's reading path.
add_fuzzer(nifti_fuzzer ${CMAKE_CURRENT_LIST_DIR}/nifti_fuzzer.cpp)
target_link_libraries(nifti_fuzzer PRIVATE volaccess_engine)
