# Upload engine: server choice by ICMP ping and the segment sender.
set(_engine ${CMAKE_CURRENT_LIST_DIR})
ferrant_library(client_engine_core PORTABLE SOURCES ${_engine}/IcmpPacket.cpp)
if(NOT FERRANT_NATIVE)
  set(_engine_sources ${_engine}/IcmpPing.cpp ${_engine}/EngineLog.cpp)
  set(_engine_libs client_engine_core framework ws2_32)
  ferrant_library(client_engine SOURCES ${_engine_sources} LIBS ${_engine_libs})
endif()
