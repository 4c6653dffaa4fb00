# One interface target carries the language level and the warnings; every target links it.
add_library(kestrova_common INTERFACE)
target_compile_features(kestrova_common INTERFACE cxx_std_20)
target_compile_options(kestrova_common INTERFACE -Wall -Wextra)
if(KESTROVA_WERROR)
  target_compile_options(kestrova_common INTERFACE -Werror)
endif()
target_include_directories(kestrova_common INTERFACE ${PROJECT_SOURCE_DIR})
