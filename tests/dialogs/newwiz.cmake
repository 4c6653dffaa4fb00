# The new extension wizard, its worker-filled file-type list included.
kestrova_add_test(test_newwiz GUI SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/test_newwiz.cpp LIBS kestrova_app SQLite::SQLite3 LABELS threads)
