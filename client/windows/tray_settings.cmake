# The notification-area icon and the settings dialog. The dialog's user and database path are the
# process-wide names the login library holds.
ferrant_library(client_tray SOURCES CTrayIcon.cpp LIBS client_app trace framework_ui shell32)
ferrant_library(client_settings_dialog SOURCES CSettingWnd.cpp
  LIBS client_login client_storage client_app client_windows advapi32)
