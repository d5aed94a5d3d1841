# The HTTP client.
ferrant_library(client_http SOURCES WebRequestClient.cpp LIBS client_text framework winhttp)
