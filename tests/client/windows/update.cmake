# The update check against the stand-in's web site; the program carries a version resource of
# its own for the check to read.
ferrant_test(update_check_tests DESKTOP SOURCES UpdateCheckTest.cpp update_version.rc ${FERRANT_WINDOWS_RC}
             ${FERRANT_SKIN_RC} LIBS client_update provider TIMEOUT 300)
target_include_directories(update_check_tests PRIVATE ${FERRANT_SKIN_DIR})
add_dependencies(update_check_tests skins)
