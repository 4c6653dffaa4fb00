# The icon change and picker, the settings dialog, and the tools and help commands.
kestrova_add_test(test_iconchange GUI SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/test_iconchange.cpp LIBS kestrova_app)
kestrova_add_test(test_settings GUI SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/test_settings.cpp LIBS kestrova_app)
kestrova_add_test(test_tools GUI SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/test_tools.cpp LIBS kestrova_app)
# The help file is built beside the program when the CHM compiler is there.
if(TARGET kestrova_help)
  target_compile_definitions(test_tools PRIVATE KESTROVA_HELP_BUILT)
  add_dependencies(test_tools kestrova_help)
endif()
# A dialog left open by a failing test would otherwise wait for ever.
set_tests_properties(test_iconchange test_settings test_tools PROPERTIES TIMEOUT 120)
