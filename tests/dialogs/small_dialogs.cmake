# The Edit Flags, New File Type and Change Association dialogs, driven through the main window.
kestrova_add_test(test_flagsdialog GUI SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/test_flagsdialog.cpp LIBS kestrova_app)
kestrova_add_test(test_newtypedialog GUI SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/test_newtypedialog.cpp LIBS kestrova_app)
kestrova_add_test(test_chgassdialog GUI SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/test_chgassdialog.cpp LIBS kestrova_app LABELS threads)
