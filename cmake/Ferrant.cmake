# Helpers every directory uses to declare its libraries and tests.
#
# The whole tree is built by scripts/test cross for Windows (everything; for x86_64, and for i686
# where the machine runs it), and natively with AddressSanitizer and UndefinedBehaviorSanitizer
# (FERRANT_NATIVE), where only targets marked PORTABLE exist. Portable code uses standard C++ only.
# A folder's Windows-only targets come after its one `if(FERRANT_NATIVE) return()`: reaching one
# in the native build is an error, so nothing is left out without a line that says so.

include_guard(GLOBAL)

function(ferrant_require_portable kind name portable)
  if(FERRANT_NATIVE AND NOT portable)
    message(FATAL_ERROR "${kind} ${name} is not PORTABLE: declare it after the folder's `if(FERRANT_NATIVE) return()`")
  endif()
endfunction()

# ferrant_library(name [PORTABLE] [SHARED|OBJECT] SOURCES ... [LIBS ...] [INCLUDES ...] [DEFINES ...])
# OBJECT: its objects go into whatever links it directly, as if listed there (a program's entry
# point, or one class's half that another folder's library carries).
function(ferrant_library name)
  cmake_parse_arguments(A "PORTABLE;SHARED;OBJECT" "" "SOURCES;LIBS;INCLUDES;DEFINES" ${ARGN})
  ferrant_require_portable(library ${name} "${A_PORTABLE}")
  if(A_SHARED)
    add_library(${name} SHARED ${A_SOURCES})
  elseif(A_OBJECT)
    add_library(${name} OBJECT ${A_SOURCES})
  else()
    add_library(${name} STATIC ${A_SOURCES})
  endif()
  target_include_directories(${name} PUBLIC ${FERRANT_ROOT} ${A_INCLUDES})
  if(A_LIBS)
    target_link_libraries(${name} PUBLIC ${A_LIBS})
  endif()
  if(A_DEFINES)
    target_compile_definitions(${name} PUBLIC ${A_DEFINES})
  endif()
endfunction()

# ferrant_test(name [PORTABLE] [DESKTOP] [WINDOW_RESOURCES] SOURCES ... [LIBS ...] [DEFINES ...] [TIMEOUT s])
# One CTest entry per test executable; under the cross build it runs through Wine. Every test may
# include the shared helpers of tests/support.
# DESKTOP: its windows take the activation, the focus or the mouse, which windows of another test
# on the same display would steal; such tests run one at a time.
# WINDOW_RESOURCES: the client windows' dialog templates and menus with the skin bitmaps are
# compiled in.
function(ferrant_test name)
  cmake_parse_arguments(A "PORTABLE;DESKTOP;WINDOW_RESOURCES" "TIMEOUT" "SOURCES;LIBS;DEFINES" ${ARGN})
  ferrant_require_portable(test ${name} "${A_PORTABLE}")
  add_executable(${name} ${A_SOURCES})
  target_include_directories(${name} PRIVATE ${FERRANT_ROOT})
  target_link_libraries(${name} PRIVATE ${A_LIBS} test_support GTest::gtest GTest::gtest_main)
  if(A_WINDOW_RESOURCES)
    if(FERRANT_NATIVE)
      message(FATAL_ERROR "test ${name}: the window resources exist in the Windows build only")
    endif()
    target_link_libraries(${name} PRIVATE client_window_resources)
  endif()
  if(A_DEFINES)
    target_compile_definitions(${name} PRIVATE ${A_DEFINES})
  endif()
  if(NOT FERRANT_NATIVE)
    # gtest_main uses main(), not wmain.
    target_link_options(${name} PRIVATE -mconsole)
  endif()
  add_test(NAME ${name} COMMAND ${name} --gtest_color=no)
  if(NOT A_TIMEOUT)
    set(A_TIMEOUT 300)
  endif()
  set_tests_properties(${name} PROPERTIES TIMEOUT ${A_TIMEOUT})
  if(A_DESKTOP)
    set_tests_properties(${name} PROPERTIES RESOURCE_LOCK desktop)
  endif()
endfunction()

# ferrant_resources(name RC ... [FROM target] [INCLUDES ...] [LIBS ...]): resource scripts as an
# interface library; whatever links it compiles them in, with their include folders, after
# `target` (which makes what they include) was built.
function(ferrant_resources name)
  cmake_parse_arguments(A "" "FROM" "RC;INCLUDES;LIBS" ${ARGN})
  add_library(${name} INTERFACE)
  list(TRANSFORM A_RC PREPEND ${CMAKE_CURRENT_SOURCE_DIR}/)
  target_sources(${name} INTERFACE ${A_RC})
  target_include_directories(${name} INTERFACE ${A_INCLUDES})
  target_link_libraries(${name} INTERFACE ${A_LIBS})
  if(A_FROM)
    add_dependencies(${name} ${A_FROM})
  endif()
endfunction()

# ferrant_debian_source(package outvar): unpacks Debian's source package into the build tree
# once (at configure time) and sets outvar to its directory.
function(ferrant_debian_source package outvar)
  set(base ${CMAKE_BINARY_DIR}/_deps/${package})
  file(GLOB found LIST_DIRECTORIES true "${base}/${package}-*")
  if(NOT found)
    file(MAKE_DIRECTORY ${base})
    message(STATUS "Fetching Debian source package ${package}")
    execute_process(COMMAND apt-get source --download-only ${package}
                    WORKING_DIRECTORY ${base} RESULT_VARIABLE rc OUTPUT_QUIET)
    if(NOT rc EQUAL 0)
      message(FATAL_ERROR "apt-get source ${package} failed (is deb-src enabled? run scripts/setup)")
    endif()
    file(GLOB dsc "${base}/*.dsc")
    execute_process(COMMAND dpkg-source --no-check -x ${dsc}
                    WORKING_DIRECTORY ${base} RESULT_VARIABLE rc OUTPUT_QUIET)
    if(NOT rc EQUAL 0)
      message(FATAL_ERROR "dpkg-source -x ${package} failed")
    endif()
    file(GLOB found LIST_DIRECTORIES true "${base}/${package}-*")
  endif()
  list(FILTER found EXCLUDE REGEX "\\.(tar|dsc|diff|debian)")
  list(GET found 0 dir)
  set(${outvar} ${dir} PARENT_SCOPE)
endfunction()
