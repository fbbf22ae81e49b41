# Manual pages of the installed commands, made at build time by help2man from
# what each command's --help prints, so that they say what the built program
# does. Section 1, compressed as Debian keeps them (gzip -9n), in
# <build>/man/man1; installed beside their command by the same install
# component.
#
#   tev_manual_page(<command> PROGRAM <target or file> NAME <what it does>
#                   [COMPONENT <component>])
#
# Sanitizer trees make none: they are neither installed nor packaged.
find_program(TEV_HELP2MAN help2man)
find_program(TEV_GZIP gzip)
if(TEV_SANITIZE STREQUAL "" AND (NOT TEV_HELP2MAN OR NOT TEV_GZIP))
  message(FATAL_ERROR "The manual pages need help2man and gzip: install them (scripts/install-deps.sh)")
endif()
set(TEV_MAN_DIR "${CMAKE_BINARY_DIR}/man/man1")
add_custom_target(manual-pages ALL)

function(tev_manual_page command)
  cmake_parse_arguments(M "" "PROGRAM;NAME;COMPONENT" "" ${ARGN})
  if(NOT TEV_SANITIZE STREQUAL "")
    return()
  endif()
  if(TARGET ${M_PROGRAM})
    set(program "$<TARGET_FILE:${M_PROGRAM}>")
  else()
    set(program "${M_PROGRAM}")
  endif()
  set(page "${TEV_MAN_DIR}/${command}.1")
  add_custom_command(OUTPUT "${page}.gz"
    COMMAND "${CMAKE_COMMAND}" -E make_directory "${TEV_MAN_DIR}"
    COMMAND "${TEV_HELP2MAN}" --no-info --section=1 "--name=${M_NAME}"
            "--version-string=${PROJECT_VERSION}" "--source=TEV bridge ${PROJECT_VERSION}"
            "--manual=TEV bridge" --output "${page}" "${program}"
    COMMAND "${TEV_GZIP}" -9nf "${page}"
    DEPENDS ${M_PROGRAM}
    COMMENT "Manual page ${command}(1) from its --help"
    VERBATIM)
  add_custom_target(manual-page-${command} DEPENDS "${page}.gz")
  add_dependencies(manual-pages manual-page-${command})
  if(M_COMPONENT)
    install(FILES "${page}.gz" DESTINATION "${CMAKE_INSTALL_MANDIR}/man1"
            COMPONENT ${M_COMPONENT} EXCLUDE_FROM_ALL)
  else()
    install(FILES "${page}.gz" DESTINATION "${CMAKE_INSTALL_MANDIR}/man1")
  endif()
endfunction()
