# Manual pages of the programs, made from their --help at build time with
# help2man, so that the page and the program never disagree. Built when
# help2man is there (scripts/setup installs it) and the build is not a
# sanitizer build; installed in section 1.
find_program(HELP2MAN help2man)
if(NOT HELP2MAN OR ZADU_SANITIZE OR ZADU_SANITIZE_THREAD OR ZADU_FUZZ)
  return()
endif()
set(man_pages)
foreach(entry IN ITEMS
        "zadulpm-command|look inside the TCAM table's shared memory, read-only"
        "zadulpm-hw|the hardware side: a simulated TCAM per unit, fed from the agent's change log"
        "zadulpm-agent|program a route table through the TCAM table library"
        "zadulpm-routed|keep the switch's units equal to a routing suite's IPv4 FIB")
  string(REPLACE "|" ";" fields "${entry}")
  list(GET fields 0 target)
  list(GET fields 1 summary)
  get_target_property(program ${target} OUTPUT_NAME)
  if(NOT program)
    set(program ${target})
  endif()
  set(page ${CMAKE_BINARY_DIR}/man/${program}.1)
  add_custom_command(
    OUTPUT ${page}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
    COMMAND ${HELP2MAN} --no-info --no-discard-stderr --section=1
            --version-string=${PROJECT_VERSION} --name=${summary} --output=${page}
            $<TARGET_FILE:${target}>
    DEPENDS ${target}
    COMMENT "Manual page of ${program}"
    VERBATIM)
  list(APPEND man_pages ${page})
endforeach()
add_custom_target(man_pages ALL DEPENDS ${man_pages})
install(FILES ${man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
