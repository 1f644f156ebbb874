# Writes sldtool's man page from the tool's own help, so the two never
# disagree: help2man over `sldtool --help`, with the --help of each command
# that help lists added as a section of its own.
#   cmake -DSLDTOOL=path -DHELP2MAN=path -DOUTPUT=file.1 -P sldtool_man.cmake
foreach(variable SLDTOOL HELP2MAN OUTPUT)
  if(NOT ${variable})
    message(FATAL_ERROR "sldtool_man.cmake: ${variable} is not set")
  endif()
endforeach()

# A sanitized build's tool writes the page too; a leak report on the way
# out is the sanitizer tests' business, not the page's.
set(ENV{ASAN_OPTIONS} "detect_leaks=0")

execute_process(COMMAND ${SLDTOOL} --help OUTPUT_VARIABLE help RESULT_VARIABLE failed TIMEOUT 60)
if(failed)
  message(FATAL_ERROR "${SLDTOOL} --help failed: ${failed}")
endif()

# The commands: the lines of the "Subcommands:" block, up to the blank line.
string(REGEX MATCH "\nSubcommands:\n([^\n]+\n)+" block "${help}")
string(REGEX MATCHALL "\n  [a-z]+ " names "${block}")
if(NOT names)
  message(FATAL_ERROR "${SLDTOOL} --help lists no commands")
endif()

# Each command's help as preformatted text; every line starts with \& so
# that none is taken for a request, and backslashes are written as \e.
set(include "[COMMANDS]\n")
foreach(name IN LISTS names)
  string(STRIP "${name}" command)
  execute_process(COMMAND ${SLDTOOL} ${command} --help OUTPUT_VARIABLE text RESULT_VARIABLE failed
                  TIMEOUT 60)
  if(failed)
    message(FATAL_ERROR "${SLDTOOL} ${command} --help failed: ${failed}")
  endif()
  # The exit codes are the same for every command: the page has them once.
  string(FIND "${text}" "\nExit codes:" end)
  if(end GREATER 0)
    string(SUBSTRING "${text}" 0 ${end} text)
  endif()
  string(REPLACE "\\" "\\e" text "${text}")
  string(REPLACE "\n" "\n\\&" text "\\&${text}")
  string(APPEND include ".SS \"sldtool ${command}\"\n.nf\n${text}\n.fi\n")
endforeach()
string(APPEND include "[SEE ALSO]\n"
  "docs/sldtool.md in the source tree: a tour, the exit codes and the JSON schema.\n")
get_filename_component(directory "${OUTPUT}" DIRECTORY)
file(WRITE "${directory}/sldtool_man.include" "${include}")

execute_process(
  COMMAND ${HELP2MAN} --no-info --section=1
          "--name=list the hubs on JTAG chains and scan the nodes behind them"
          "--include=${directory}/sldtool_man.include" "--output=${OUTPUT}" ${SLDTOOL}
  RESULT_VARIABLE failed TIMEOUT 60)
if(failed)
  message(FATAL_ERROR "help2man failed: ${failed}")
endif()
