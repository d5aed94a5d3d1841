# gSOAP: the runtime from Debian's source package, built for this target over plain HTTP (no TLS,
# no compression), and client stubs generated at build time by soapcpp2. UTF-8 text is a run-time
# mode of the context (SOAP_C_UTFSTRING), chosen by the caller.
include_guard(GLOBAL)

find_program(SOAPCPP2 soapcpp2 REQUIRED)
ferrant_debian_source(gsoap GSOAP_SOURCE_DIR)
set(GSOAP_DIR ${GSOAP_SOURCE_DIR}/gsoap)

add_library(gsoap_runtime STATIC ${GSOAP_DIR}/stdsoap2.cpp)
target_include_directories(gsoap_runtime SYSTEM PUBLIC ${GSOAP_DIR})
target_compile_options(gsoap_runtime PRIVATE -w)
if(WIN32)
  target_link_libraries(gsoap_runtime PUBLIC ws2_32)
endif()

# gsoap_client_stubs(target description): generates the client stubs of `description` (a gSOAP
# header file) into the build tree and builds them as a static library `target`.
function(gsoap_client_stubs target description)
  set(out ${CMAKE_CURRENT_BINARY_DIR}/${target})
  set(generated ${out}/soapC.cpp ${out}/soapClient.cpp ${out}/soapH.h ${out}/soapStub.h ${out}/qxd.nsmap)
  add_custom_command(
    OUTPUT ${generated}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${out}
    COMMAND ${SOAPCPP2} -1 -C -L -x -w -e -I${GSOAP_DIR}/import -d ${out} ${description}
    DEPENDS ${description}
    COMMENT "Generating SOAP client stubs from ${description}"
    VERBATIM)
  add_library(${target} STATIC ${out}/soapC.cpp ${out}/soapClient.cpp)
  target_include_directories(${target} SYSTEM PUBLIC ${out})
  target_link_libraries(${target} PUBLIC gsoap_runtime)
  target_compile_options(${target} PRIVATE -w)
endfunction()
