# Upload engine: server choice by ICMP ping and the segment sender; an upload row's engine
# (announcement, segment list, segment threads, pause, resume, cancel) with its window half,
# which lives with the other windows.
set(_engine ${CMAKE_CURRENT_LIST_DIR})
ferrant_library(client_engine_core PORTABLE SOURCES ${_engine}/IcmpPacket.cpp ${_engine}/UploadRules.cpp)
if(FERRANT_NATIVE)
  return()
endif()
ferrant_library(client_engine
  SOURCES ${_engine}/CIcmpPing.cpp ${_engine}/ServerChoice.cpp ${_engine}/EngineLog.cpp ${_engine}/CUploadSegments.cpp
  LIBS client_engine_core client_protocol client_sockets trace framework ws2_32)
set(_windows ${_engine}/../windows)
ferrant_library(client_uploading
  SOURCES ${_engine}/CUploading.cpp ${_windows}/CUploadingWindow.cpp
  LIBS client_engine client_session client_app client_protocol client_sockets client_windows client_row_text
       controls framework_ui framework)
