# SQLite from Debian's source package: the amalgamation is generated natively once, in the build
# tree, and compiled here for whichever target this tree builds.
include_guard(GLOBAL)
include(${CMAKE_CURRENT_LIST_DIR}/Ferrant.cmake)

ferrant_debian_source(sqlite3 FERRANT_SQLITE_SRC)
set(FERRANT_SQLITE_GEN ${CMAKE_BINARY_DIR}/_deps/sqlite3-amalgamation)
if(NOT EXISTS ${FERRANT_SQLITE_GEN}/sqlite3.c)
  message(STATUS "Generating the SQLite amalgamation")
  file(MAKE_DIRECTORY ${FERRANT_SQLITE_GEN})
  # Native host tools build the generators, whatever compiler this tree cross-builds with.
  execute_process(COMMAND env -u CC -u CFLAGS ${FERRANT_SQLITE_SRC}/configure --disable-tcl
                  WORKING_DIRECTORY ${FERRANT_SQLITE_GEN} RESULT_VARIABLE rc OUTPUT_QUIET ERROR_QUIET)
  if(rc EQUAL 0)
    execute_process(COMMAND make sqlite3.c
                    WORKING_DIRECTORY ${FERRANT_SQLITE_GEN} RESULT_VARIABLE rc OUTPUT_QUIET ERROR_QUIET)
  endif()
  if(NOT rc EQUAL 0 OR NOT EXISTS ${FERRANT_SQLITE_GEN}/sqlite3.c)
    message(FATAL_ERROR "Generating the SQLite amalgamation failed in ${FERRANT_SQLITE_GEN}")
  endif()
endif()

if(NOT TARGET sqlite3)
  add_library(sqlite3 STATIC ${FERRANT_SQLITE_GEN}/sqlite3.c)
  target_include_directories(sqlite3 SYSTEM PUBLIC ${FERRANT_SQLITE_GEN})
  target_compile_definitions(sqlite3 PRIVATE
    SQLITE_THREADSAFE=1
    SQLITE_SECURE_DELETE=1
    SQLITE_TEMP_STORE=1
    SQLITE_ENABLE_COLUMN_METADATA=1
    SQLITE_ENABLE_FTS3=1
    SQLITE_ENABLE_RTREE=1
    SQLITE_SOUNDEX=1
    # Pages are enciphered whole by our own VFS: keep the file format to rollback journals of
    # small pages that pass through the VFS, never mapped memory or a WAL.
    SQLITE_DEFAULT_PAGE_SIZE=1024
    SQLITE_MAX_PAGE_SIZE=32768
    SQLITE_OMIT_WAL=1
    SQLITE_MAX_MMAP_SIZE=0
    SQLITE_STMTJRNL_SPILL=-1
    SQLITE_OMIT_LOAD_EXTENSION=1)
  target_compile_options(sqlite3 PRIVATE -w)
  if(FERRANT_NATIVE)
    # The library itself is not ours to sanitise; only its use by our code is.
    target_compile_options(sqlite3 PRIVATE -fno-sanitize=all)
    target_link_libraries(sqlite3 PUBLIC pthread dl m)
  endif()
endif()
