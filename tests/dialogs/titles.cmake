# The windows' titles, as the window system shows them.
kestrova_add_test(test_windowtitles GUI SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/test_windowtitles.cpp LIBS kestrova_app)
