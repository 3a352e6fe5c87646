# Manual pages made at build time from the programs' own --help (help2man, Debian package
# help2man), so that they cannot drift from it; installed with the programs. Without help2man
# the build goes on without them, and the package test says what is missing.

find_program(HELP2MAN help2man)
if(NOT HELP2MAN)
  message(WARNING "help2man not found: no manual pages (scripts/deps installs it)")
  return()
endif()

set(ZIMP_MAN_DIR ${PROJECT_BINARY_DIR}/man)
set(_pages)
# zimp_man_page(target "one-line description" [COMMANDS])
function(zimp_man_page target name)
  if(NOT TARGET ${target})
    return()
  endif()
  set(page ${ZIMP_MAN_DIR}/${target}.1.gz)
  set(commands OFF)
  if("COMMANDS" IN_LIST ARGN)
    set(commands ON)
  endif()
  add_custom_command(OUTPUT ${page}
    COMMAND ${CMAKE_COMMAND} -DHELP2MAN=${HELP2MAN} -DPROGRAM=$<TARGET_FILE:${target}>
            -DNAME=${name} -DOUTPUT=${page} -DCOMMANDS=${commands}
            -P ${PROJECT_SOURCE_DIR}/cmake/GenerateManPage.cmake
    DEPENDS ${target} ${PROJECT_SOURCE_DIR}/cmake/GenerateManPage.cmake
    COMMENT "Manual page ${target}(1)"
    VERBATIM)
  set(_pages ${_pages} ${page} PARENT_SCOPE)
endfunction()

zimp_man_page(zimp "command-line ZIMP workbench: load, save and boot-load radio memories"
  COMMANDS)
zimp_man_page(zimpprotocol "desktop ZIMP workbench for radio memories over a serial line")
zimp_man_page(zimp-radio-sim "simulated ZIMP radios on pseudo-terminals")
zimp_man_page(rnc-sim "substitute RNC server on loopback for Corvex clients")

add_custom_target(zimp_man_pages ALL DEPENDS ${_pages})
install(FILES ${_pages} DESTINATION share/man/man1 COMPONENT ZimpProtocol)
