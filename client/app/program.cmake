# The application object: start-up, single instance, pipe listener, web-started login.
ferrant_library(client_program SOURCES CFerrantApp.cpp
  LIBS client_weblogin client_app client_http client_session client_storage client_login client_update
       common_pipe common_launch trace framework_ui comctl32)
