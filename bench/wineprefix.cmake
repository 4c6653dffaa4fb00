# Kestrova on a Wine prefix with a big registry, beside Wine's own reg query (skipped
# without Wine).
if(TARGET kestrova_app)
  find_package(benchmark REQUIRED)
  add_executable(bench_wineprefix ${CMAKE_CURRENT_LIST_DIR}/bench_wineprefix.cpp)
  target_link_libraries(bench_wineprefix PRIVATE kestrova_common kestrova_benchapp)
endif()
