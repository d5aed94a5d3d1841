# Upload protocol records, request builders and reply readers: portable.
ferrant_library(client_protocol PORTABLE
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/Protocol.cpp
  LIBS client_text)
