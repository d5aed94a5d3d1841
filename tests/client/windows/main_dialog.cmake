# The main dialog against the stand-in provider and its update site (with a version of its own to
# compare); the tray through its seam.
ferrant_test(main_dialog_tests DESKTOP SOURCES MainDialogTest.cpp update_version.rc ${FERRANT_WINDOWS_RC} ${FERRANT_SKIN_RC}
             LIBS client_main_dialog provider TIMEOUT 600)
target_include_directories(main_dialog_tests PRIVATE ${FERRANT_SKIN_DIR})
add_dependencies(main_dialog_tests skins)
ferrant_screenshots(main_dialog_tests)
