# The Change Association dialog's opening and drop-down on the full-size store.
if(TARGET kestrova_app)
  find_package(benchmark REQUIRED)
  add_executable(bench_chgass ${CMAKE_CURRENT_LIST_DIR}/bench_chgass.cpp)
  target_link_libraries(bench_chgass PRIVATE kestrova_common kestrova_benchdata kestrova_benchapp
    benchmark::benchmark)
endif()
