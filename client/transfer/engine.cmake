# Upload engine: server choice by ICMP ping and the segment sender.
set(_engine ${CMAKE_CURRENT_LIST_DIR})
ferrant_library(client_engine_core PORTABLE SOURCES ${_engine}/IcmpPacket.cpp)
if(NOT FERRANT_NATIVE)
  set(_engine_sources ${_engine}/IcmpPing.cpp ${_engine}/ServerChoice.cpp ${_engine}/EngineLog.cpp)
  set(_engine_libs client_engine_core client_protocol trace framework ws2_32)
  if(TARGET client_sockets)
    list(APPEND _engine_sources ${_engine}/SegmentSender.cpp)
    list(APPEND _engine_libs client_sockets)
  endif()
  ferrant_library(client_engine SOURCES ${_engine_sources} LIBS ${_engine_libs})
endif()
# An upload row: its engine (announcement, segment list, segment threads, pause, resume, cancel)
# here, its window half with the other windows.
if(NOT FERRANT_NATIVE AND TARGET client_sockets)
  set(_windows ${_engine}/../windows)
  ferrant_library(client_uploading
    SOURCES ${_engine}/Uploading.cpp ${_windows}/UploadingWindow.cpp ${_windows}/NetworkState.cpp
    LIBS client_engine client_session client_app client_protocol client_sockets client_windows client_row_text
         controls framework_ui framework)
endif()
