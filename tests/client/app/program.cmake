# The program's start-up and web-started login.
ferrant_test(program_login_tests SOURCES ProgramLoginTest.cpp LIBS client_program client_engine provider TIMEOUT 180)
# The program as a process, the loopback build: it takes the session's one-instance mutex and the
# pipe the service writes to, so no service test may run beside it.
ferrant_test(program_startup_tests DESKTOP SOURCES ProgramStartupTest.cpp LIBS client_storage client_app common_pipe
             client_engine provider DEFINES "FERRANT_LOOPBACK_DIR=\"${FERRANT_LOOPBACK_DIR}\"" TIMEOUT 300)
add_dependencies(program_startup_tests ferrant_loopback)
set_tests_properties(program_startup_tests PROPERTIES RESOURCE_LOCK "desktop;service_ports;pipe")
