# One interface target carries the language level and the warnings; every target links it.
add_library(kestrova_common INTERFACE)
target_compile_features(kestrova_common INTERFACE cxx_std_20)
target_compile_options(kestrova_common INTERFACE -Wall -Wextra)
if(KESTROVA_WERROR)
  target_compile_options(kestrova_common INTERFACE -Werror)
endif()
target_include_directories(kestrova_common INTERFACE ${PROJECT_SOURCE_DIR})
# GCC 12 warns falsely about std::string concatenation when optimising (GCC bug 105329).
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
  target_compile_options(kestrova_common INTERFACE -Wno-restrict)
endif()
