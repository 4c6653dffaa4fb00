# The new extension wizard's file-type list on the full-size store.
if(TARGET kestrova_app)
  find_package(benchmark REQUIRED)
  add_executable(bench_wizard ${CMAKE_CURRENT_LIST_DIR}/bench_wizard.cpp)
  target_link_libraries(bench_wizard PRIVATE kestrova_common kestrova_benchdata kestrova_benchapp
    benchmark::benchmark)
endif()
