# The main dialog: the pages, the login, the update check, the tray icon, the settings dialog and
# the tab strip it is made of.
ferrant_library(client_main_dialog SOURCES CFerrantDlg.cpp
  LIBS client_upload_page client_uploaded_tab client_login client_update client_tray client_settings_dialog
       controls_tab client_windows)
