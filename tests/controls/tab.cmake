# The custom tab strip on a plain window.
ferrant_test(custom_tab_tests DESKTOP SOURCES CCustomTabCtrlTest.cpp CThemeUtilTest.cpp LIBS controls_tab TIMEOUT 180)
ferrant_screenshots(custom_tab_tests)
