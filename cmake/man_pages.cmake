# taxoscope_man_page(TARGET SUMMARY DESCRIPTION SEE-ALSO): the program's man
# page, TARGET.1.gz, made from its own help texts (cmake/write_man_page.cmake)
# and installed in man1. SEE-ALSO names other pages of section 1, comma-separated.
find_program(HELP2MAN help2man REQUIRED)

function(taxoscope_man_page target summary description see_also)
  set(page ${CMAKE_BINARY_DIR}/man/${target}.1.gz)
  add_custom_command(OUTPUT ${page}
    COMMAND ${CMAKE_COMMAND} -DHELP2MAN=${HELP2MAN} -DPROGRAM=$<TARGET_FILE:${target}>
            "-DSUMMARY=${summary}" "-DDESCRIPTION=${description}" -DSEE_ALSO=${see_also}
            "-DCOPYRIGHT=${TAXOSCOPE_COPYRIGHT}" -DOUTPUT=${page}
            -P ${CMAKE_SOURCE_DIR}/cmake/write_man_page.cmake
    DEPENDS ${target} ${CMAKE_SOURCE_DIR}/cmake/write_man_page.cmake
    COMMENT "Writing the man page of ${target}"
    VERBATIM)
  add_custom_target(${target}-man-page ALL DEPENDS ${page})
  install(FILES ${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endfunction()
