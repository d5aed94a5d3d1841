# The same sources as 64-bit Windows programs, for machines that cannot execute 32-bit code.
set(FERRANT_MINGW_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw.cmake)
