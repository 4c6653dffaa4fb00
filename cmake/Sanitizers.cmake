# Sanitizer and fuzzing builds. The flags go on every target of the tree (our libraries, the
# programs, the tests and their helper programs alike), so they are set here once rather
# than in the scripts that configure such a build.
#
#   -DKESTROVA_SANITIZE="address;undefined"  the tests under ASan and UBSan
#   -DKESTROVA_SANITIZE=thread               the threaded tests under TSan
#   -DKESTROVA_BUILD_FUZZ=ON                 libFuzzer targets; the tree gets coverage
#                                            instrumentation for them (clang only)
set(KESTROVA_SANITIZE "" CACHE STRING
    "Sanitizers for the whole tree: empty, \"address;undefined\" or \"thread\"")
set_property(CACHE KESTROVA_SANITIZE PROPERTY STRINGS "" "address;undefined" "thread")

if(KESTROVA_SANITIZE)
  foreach(s ${KESTROVA_SANITIZE})
    if(NOT s MATCHES "^(address|undefined|leak|thread)$")
      message(FATAL_ERROR "KESTROVA_SANITIZE: unknown sanitizer '${s}'")
    endif()
  endforeach()
  if("thread" IN_LIST KESTROVA_SANITIZE AND
     ("address" IN_LIST KESTROVA_SANITIZE OR "leak" IN_LIST KESTROVA_SANITIZE))
    message(FATAL_ERROR "KESTROVA_SANITIZE: thread cannot be combined with address or leak")
  endif()
  list(JOIN KESTROVA_SANITIZE "," sanitizers)
  add_compile_options(-fsanitize=${sanitizers} -fno-omit-frame-pointer)
  add_link_options(-fsanitize=${sanitizers})
  # Undefined behaviour stops the test at once, so that it cannot pass with a report.
  if("undefined" IN_LIST KESTROVA_SANITIZE)
    add_compile_options(-fno-sanitize-recover=undefined)
  endif()
endif()

if(KESTROVA_BUILD_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "KESTROVA_BUILD_FUZZ needs clang (libFuzzer): -DCMAKE_CXX_COMPILER=clang++")
  endif()
  # The libraries the fuzz targets link report the coverage libFuzzer steers by; the targets
  # themselves link libFuzzer's main (fuzz/CMakeLists.txt).
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()
