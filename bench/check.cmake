# The association check on the full-size store.
if(TARGET kestrova_checkprobes)
  find_package(benchmark REQUIRED)
  add_executable(bench_check ${CMAKE_CURRENT_LIST_DIR}/bench_check.cpp)
  target_link_libraries(bench_check PRIVATE kestrova_common kestrova_benchdata
    kestrova_checkprobes benchmark::benchmark)
endif()
