# The custom tab strip and its theme access.
ferrant_library(controls_tab SOURCES CThemeUtil.cpp CCustomTabCtrl.cpp CCustomTabCtrlPainting.cpp
  LIBS controls framework_ui)
