# The whole road from the web page to a copied link: the stand-in, the service from the loopback
# bundle, the web page's launch request and the client driven as a user would. The same script
# runs the demo (scripts/demo).
if(FERRANT_NATIVE)
  return()
endif()
add_executable(ferrant_driver ${FERRANT_ROOT}/tests/support/FerrantDriver.cpp)
target_include_directories(ferrant_driver PRIVATE ${FERRANT_ROOT})
target_link_options(ferrant_driver PRIVATE -municode -mconsole)
target_link_libraries(ferrant_driver PRIVATE user32 gdi32)
set_target_properties(ferrant_driver PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
add_custom_target(road_programs ALL DEPENDS ferrant_loopback ferrant_provider ferrant_driver)

add_test(NAME road_test COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/road/road.sh test ${CMAKE_BINARY_DIR})
# The service's name, ports and pipe and the desktop's windows are the machine's, one user at a time.
set_tests_properties(road_test PROPERTIES TIMEOUT 420 RESOURCE_LOCK "desktop;service_ports;service_scm;pipe")
