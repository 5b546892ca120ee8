# Checks the manual page against the built program: every option that
# `zandrel --help` lists, short and long, must be described under OPTIONS, the
# program must report the version the page and the package carry, and groff
# must format the page without a warning.
#   cmake -DPROGRAM=<zandrel> -DPAGE=<zandrel.1> -DVERSION=<project version>
#         [-DGROFF=<groff>] -P manual_page_test.cmake
cmake_minimum_required(VERSION 3.25)

function(Fail message)
  message(FATAL_ERROR "manual_page_test: ${message}")
endfunction()

execute_process(COMMAND ${PROGRAM} --help RESULT_VARIABLE status OUTPUT_VARIABLE help)
if(NOT status EQUAL 0)
  Fail("--help exited with ${status}")
endif()

# An option line of the help starts with two blanks and a dash; its options
# come before the description, as in "  -h, --help   Displays ...".
set(options "")
string(REPLACE "\n" ";" helpLines "${help}")
foreach(line IN LISTS helpLines)
  if(line MATCHES "^  (-[^ ,]*(, -[^ ,]*)*)")
    string(REGEX MATCHALL "--?[A-Za-z0-9][A-Za-z0-9-]*" names "${CMAKE_MATCH_1}")
    list(APPEND options ${names})
  endif()
endforeach()
if(NOT "--help" IN_LIST options OR NOT "-h" IN_LIST options)
  Fail("found no option list in the help:\n${help}")
endif()

# The OPTIONS section as plain text: roff writes a dash as "\-".
file(READ ${PAGE} page)
if(NOT page MATCHES "\n\\.SH OPTIONS\n(.*)")
  Fail("${PAGE} has no OPTIONS section")
endif()
string(REGEX REPLACE "\n\\.SH .*" "" section "${CMAKE_MATCH_1}")
string(REPLACE "\\-" "-" section "${section}")
foreach(option IN LISTS options)
  # Whole options only: "--help" must not pass on the strength of "--help-all".
  if(NOT section MATCHES "(^|[^A-Za-z0-9-])${option}([^A-Za-z0-9-]|$)")
    Fail("${option} is in the help but not under OPTIONS in ${PAGE}")
  endif()
endforeach()

string(REPLACE "." "\\." versionPattern "${VERSION}")
execute_process(COMMAND ${PROGRAM} --version RESULT_VARIABLE status OUTPUT_VARIABLE version)
if(NOT status EQUAL 0 OR NOT version MATCHES "^zandrel ${versionPattern}(\\.0)*\n$")
  Fail("--version gave '${version}' (status ${status}), the package is ${VERSION}")
endif()
if(NOT page MATCHES "^\\.TH ZANDREL 1 \"[^\"]*\" \"Zandrel Viewer ${versionPattern}\"")
  Fail("the page's title line does not carry version ${VERSION}")
endif()

if(GROFF)
  execute_process(COMMAND ${GROFF} -man -ww -z ${PAGE} RESULT_VARIABLE status
                  ERROR_VARIABLE warnings)
  if(NOT status EQUAL 0 OR NOT warnings STREQUAL "")
    Fail("groff reports on ${PAGE}:\n${warnings}")
  endif()
endif()
