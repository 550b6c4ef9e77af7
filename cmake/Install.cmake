# What `cmake --install` puts where: both programs, their man pages (made
# from doc/*.scd with scdoc), the bash completion and the documents.
include(GNUInstallDirs)

set(KC_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/kalventa-checkout)
set(KC_PROGRAMS kalventa-checkout kalventa-sim)

# Compressed as Debian ships them: the highest level, no name or time stamp
# inside, so that the same sources give the same bytes.
function(kc_gzip source output)
  add_custom_command(OUTPUT ${output}
                     COMMAND sh -c "gzip -9n < \"$0\" > \"$1\"" ${source} ${output}
                     DEPENDS ${source} VERBATIM)
endfunction()

find_program(KC_SCDOC scdoc)
set(kc_doc_outputs)
if(KC_SCDOC)
  foreach(program ${KC_PROGRAMS})
    set(scd ${CMAKE_BINARY_DIR}/doc/${program}.1.scd)
    set(page ${CMAKE_BINARY_DIR}/doc/${program}.1)
    configure_file(doc/${program}.1.scd ${scd} @ONLY)
    add_custom_command(OUTPUT ${page}
                       COMMAND sh -c "\"$0\" < \"$1\" > \"$2\"" ${KC_SCDOC} ${scd} ${page}
                       DEPENDS ${scd} VERBATIM)
    kc_gzip(${page} ${page}.gz)
    list(APPEND kc_doc_outputs ${page} ${page}.gz)
    install(FILES ${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  endforeach()
else()
  message(STATUS "scdoc not found: the man pages are not built (./test.sh installs it)")
endif()

set(kc_changelog ${CMAKE_BINARY_DIR}/doc/changelog.gz)
kc_gzip(${CMAKE_SOURCE_DIR}/CHANGELOG ${kc_changelog})
list(APPEND kc_doc_outputs ${kc_changelog})
add_custom_target(kc_doc ALL DEPENDS ${kc_doc_outputs})

install(TARGETS ${KC_PROGRAMS} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
foreach(program ${KC_PROGRAMS})
  install(FILES completion/kalventa-checkout RENAME ${program}
          DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
endforeach()
install(FILES README.md doc/copyright ${kc_changelog} DESTINATION ${KC_DOC_DIR})

# Every option the programs' --help names must be in their man pages.
if(KC_SCDOC AND KC_BUILD_TESTS)
  foreach(program ${KC_PROGRAMS})
    add_test(NAME man_page_options_${program}
             COMMAND ${CMAKE_SOURCE_DIR}/cmake/check-man-options.sh $<TARGET_FILE:${program}>
                     ${CMAKE_BINARY_DIR}/doc/${program}.1)
  endforeach()
endif()
