# Socket layer: the timed blocking socket of the control exchanges and the raw socket helpers
# of the segment sender.
ferrant_library(client_sockets
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/TimeOutSocket.cpp ${CMAKE_CURRENT_LIST_DIR}/SocketFunctions.cpp
  LIBS framework ws2_32 user32)
