# add_program(NAME SOURCES... LIBS ...): one of the system's programs. Test
# builds also get NAME_quick, the same program with its bounded receive waits
# shortened, so that tests of a silent peer finish in seconds.
set(QUICK_WAIT_SECONDS 2 CACHE STRING "Receive wait bound of the NAME_quick test builds")

function(add_program name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "SOURCES;LIBS")
  add_executable(${name} ${arg_SOURCES})
  target_link_libraries(${name} PRIVATE ${arg_LIBS} project_options)
  if(BUILD_TESTING)
    add_executable(${name}_quick ${arg_SOURCES})
    target_link_libraries(${name}_quick PRIVATE ${arg_LIBS} project_options)
    target_compile_definitions(${name}_quick PRIVATE RECEIVE_WAIT_SECONDS=${QUICK_WAIT_SECONDS})
  endif()
endfunction()
