# The deliverables: 32-bit x86 Windows programs.
set(FERRANT_MINGW_ARCH i686)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw.cmake)
