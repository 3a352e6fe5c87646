# Writes a program's manual page from its own --help and --version, so that the page says what
# the program says. Run at build time by cmake/ManPages.cmake:
#   cmake -DHELP2MAN=... -DPROGRAM=... -DNAME="one line" -DOUTPUT=.../prog.1.gz
#         [-DCOMMANDS=ON] -P GenerateManPage.cmake
# help2man takes the synopsis only from a line that starts with "Usage:", so the help is handed
# to it through a small stand-in with that one word capitalised. With COMMANDS, the commands
# listed under "Commands:" in the help get a section of their own with each one's --help.

foreach(v HELP2MAN PROGRAM NAME OUTPUT)
  if(NOT DEFINED ${v})
    message(FATAL_ERROR "GenerateManPage.cmake needs -D${v}=...")
  endif()
endforeach()

# The desktop program answers --help before it opens a window; no display is needed.
set(ENV{QT_QPA_PLATFORM} offscreen)

function(run_program out)
  execute_process(COMMAND ${PROGRAM} ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE text
                  ERROR_VARIABLE err)
  if(NOT rc EQUAL 0 OR text STREQUAL "")
    message(FATAL_ERROR "${PROGRAM} ${ARGN} failed (${rc}): ${err}")
  endif()
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# Text that roff shows as it is: backslashes and minus signs escaped, no line taken for a
# request.
function(roff_verbatim out text)
  string(REPLACE "\\" "\\e" text "${text}")
  string(REPLACE "-" "\\-" text "${text}")
  string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

get_filename_component(work ${OUTPUT} DIRECTORY)
get_filename_component(page ${OUTPUT} NAME)
string(REGEX REPLACE "\\.gz$" "" page "${page}")
set(work ${work}/${page}.d)
file(MAKE_DIRECTORY ${work})

run_program(help --help)
run_program(version --version)
string(REGEX REPLACE "^usage:" "Usage:" help "${help}")
file(WRITE ${work}/help.txt "${help}")
file(WRITE ${work}/version.txt "${version}")
file(WRITE ${work}/program
  "#!/bin/sh\n"
  "case \"$1\" in --version) exec cat '${work}/version.txt' ;; esac\n"
  "exec cat '${work}/help.txt'\n")
file(CHMOD ${work}/program PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)

set(include "")
if(COMMANDS)
  string(REGEX REPLACE ".*\nCommands:\n" "" listed "${help}")
  string(REGEX MATCHALL "(^|\n)  [a-z][a-z0-9-]*" names "${listed}")
  if(names STREQUAL "")
    message(FATAL_ERROR "${PROGRAM} --help lists no commands")
  endif()
  get_filename_component(program_name ${PROGRAM} NAME)
  string(APPEND include "[COMMANDS]\n")
  foreach(name IN LISTS names)
    string(STRIP "${name}" name)
    run_program(command_help ${name} --help)
    roff_verbatim(command_help "${command_help}")
    string(APPEND include ".SS \"${program_name} ${name}\"\n.nf\n${command_help}.fi\n")
  endforeach()
endif()
set(include_option)
if(NOT include STREQUAL "")
  file(WRITE ${work}/include.h2m "${include}")
  set(include_option --include=${work}/include.h2m)
endif()

execute_process(
  COMMAND ${HELP2MAN} --no-info --section=1 --name=${NAME} ${include_option}
          --output=${work}/${page} ${work}/program
  RESULT_VARIABLE rc ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "help2man failed for ${PROGRAM} (${rc}): ${err}")
endif()
# -n: no name or time stamp in the header, so that the page is the same at every build.
execute_process(COMMAND gzip -9 -n -c ${work}/${page} OUTPUT_FILE ${OUTPUT} RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  file(REMOVE ${OUTPUT})
  message(FATAL_ERROR "gzip failed for ${page}")
endif()
