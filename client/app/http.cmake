# The HTTP client and the pattern search it reads headers with.
ferrant_library(client_http SOURCES WebRequestClient.cpp HeaderPattern.cpp LIBS client_text framework winhttp)
