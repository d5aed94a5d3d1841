# The login dialog and what it keeps about its users.
ferrant_library(client_login SOURCES CDialogLogin.cpp LoginStore.cpp
  LIBS client_session client_storage client_windows)
