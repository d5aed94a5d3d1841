# The update check.
set(FERRANT_UPDATE_HOST "update.quillex.com" CACHE STRING "Host of the update server (version file and setup download)")
ferrant_library(client_update SOURCES UpdateCheck.cpp LIBS client_http client_windows version shell32)
target_compile_definitions(client_update PRIVATE "FERRANT_UPDATE_HOST=\"${FERRANT_UPDATE_HOST}\"")
