# Warnings on for every target of the project; a new warning is a bug.
add_compile_options(-Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wno-sign-conversion)
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  add_compile_options(-Wno-psabi)
endif()
option(SUITE_WERROR "Treat warnings as errors" ON)
if(SUITE_WERROR)
  add_compile_options(-Werror)
endif()
