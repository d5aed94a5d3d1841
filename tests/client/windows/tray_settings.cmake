# The tray icon through a recording seam and against Wine's tray; the settings dialog.
ferrant_test(tray_icon_tests DESKTOP SOURCES CTrayIconTest.cpp LIBS client_tray TIMEOUT 180)
ferrant_test(settings_dialog_tests DESKTOP SOURCES CSettingWndTest.cpp ${FERRANT_WINDOWS_RC} ${FERRANT_SKIN_RC}
             LIBS client_settings_dialog TIMEOUT 300)
target_include_directories(settings_dialog_tests PRIVATE ${FERRANT_SKIN_DIR})
add_dependencies(settings_dialog_tests skins)
ferrant_screenshots(settings_dialog_tests)
