# Socket layer: the timed blocking socket, the exchange path every request to a server takes
# (it finds the control server in the settings), and the raw socket helpers of the segment
# sender; the time arithmetic is portable.
ferrant_library(client_sockets_time PORTABLE SOURCES ${CMAKE_CURRENT_LIST_DIR}/TimeValue.cpp)
if(FERRANT_NATIVE)
  return()
endif()
ferrant_library(client_sockets
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/CTimeOutSocket.cpp ${CMAKE_CURRENT_LIST_DIR}/SocketFunctions.cpp
          ${CMAKE_CURRENT_LIST_DIR}/CServerExchange.cpp
  LIBS client_sockets_time client_protocol client_app framework ws2_32 user32)
