# dielmon_usage(TARGET target PROGRAM name): the --help text and the manual page of the program
# `name`, both made by dielmon-usage from docs/man/<name>.usage. The text is compiled into
# `target`, which includes it as "usage/<name with _ for ->.h" and gets the ProgramText
# dielmon::usage::k<Name in camel case>; the page is built beside it and installed in man1.
# Another program takes one more usage file and one more call.
function(dielmon_usage)
    cmake_parse_arguments(U "" "TARGET;PROGRAM" "" ${ARGN})
    set(source ${PROJECT_SOURCE_DIR}/docs/man/${U_PROGRAM}.usage)
    string(REPLACE "-" "_" stem ${U_PROGRAM})
    set(out ${PROJECT_BINARY_DIR}/usage)
    set(header ${out}/include/usage/${stem}.h)
    set(cpp ${out}/src/${stem}.cpp)
    set(page ${PROJECT_BINARY_DIR}/man/${U_PROGRAM}.1)
    # A usage file may take entries from another one.
    file(GLOB usage_files CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/docs/man/*.usage)
    add_custom_command(OUTPUT ${header} ${cpp} ${page}
        COMMAND dielmon-usage --version ${DIELMON_VERSION} --date ${DIELMON_RELEASE_DATE}
            --header ${header} --header-name usage/${stem}.h --source ${cpp} --manual ${page}
            ${source}
        DEPENDS dielmon-usage ${usage_files}
        COMMENT "Help text and manual page of ${U_PROGRAM}"
        VERBATIM)
    target_sources(${U_TARGET} PRIVATE ${cpp} ${header})
    target_include_directories(${U_TARGET} PUBLIC ${out}/include)
    target_link_libraries(${U_TARGET} PUBLIC dielmon_program_text)
    install(FILES ${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endfunction()
