# The HTTP client against the stand-in's web site.
ferrant_test(web_request_tests SOURCES WebRequestClientTest.cpp LIBS client_http provider TIMEOUT 300)
