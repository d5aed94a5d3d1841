# The login dialog against the stand-in provider.
ferrant_test(login_dialog_tests DESKTOP SOURCES CDialogLoginTest.cpp ${FERRANT_WINDOWS_RC} ${FERRANT_SKIN_RC}
             LIBS client_login provider TIMEOUT 300)
target_include_directories(login_dialog_tests PRIVATE ${FERRANT_SKIN_DIR})
add_dependencies(login_dialog_tests skins)
ferrant_screenshots(login_dialog_tests)
