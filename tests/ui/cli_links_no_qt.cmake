# The command-line program runs where no desktop is installed: it must not link a Qt library.
#   -DCLI=tamaril-cli
execute_process(COMMAND ldd ${CLI} RESULT_VARIABLE status OUTPUT_VARIABLE libraries)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "ldd ${CLI} failed (${status})")
endif()
if(libraries MATCHES "libQt[^ \t\n]*")
  message(FATAL_ERROR "tamaril-cli links ${CMAKE_MATCH_0}")
endif()
