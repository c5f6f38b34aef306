# Installing and packaging. `cmake --install` lays the program out as a distribution does: the program,
# its man page, its bash completion, and the README, docs and example scenarios as its documentation.
# `cpack` makes the Debian package of a Linux build and the zip of the Windows build; scripts/package.sh
# builds and checks both. The program itself reads nothing from these places.
include(GNUInstallDirs)

if(WIN32)
    # A Windows bench tool is one folder to unzip anywhere: the program with its texts beside it, where the
    # port driver's DLL goes too.
    set(TARN_INSTALL_BINDIR .)
    set(TARN_INSTALL_DOCDIR .)
else()
    set(TARN_INSTALL_BINDIR ${CMAKE_INSTALL_BINDIR})
    set(TARN_INSTALL_DOCDIR ${CMAKE_INSTALL_DOCDIR}) # share/doc/tarnserialport
endif()
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                                WORLD_READ WORLD_EXECUTE)

install(TARGETS tarnserialport RUNTIME DESTINATION ${TARN_INSTALL_BINDIR})
install(FILES README.md packaging/copyright DESTINATION ${TARN_INSTALL_DOCDIR})
install(DIRECTORY docs/ DESTINATION ${TARN_INSTALL_DOCDIR}/docs FILES_MATCHING PATTERN "*.md")
install(DIRECTORY examples/ DESTINATION ${TARN_INSTALL_DOCDIR}/examples FILES_MATCHING PATTERN "*.json")

if(WIN32)
    install(FILES packaging/windows/INSTALLING-THE-PORT-DRIVER.txt DESTINATION .)
else()
    # The man page names the installed documentation, so it is filled in for this build's prefix, and
    # compressed as man pages are on Debian (gzip -n: no name or time stamp, the same bytes every build).
    set(TARN_MAN_PAGE ${CMAKE_CURRENT_BINARY_DIR}/packaging/tarnserialport.1)
    configure_file(packaging/tarnserialport.1.in ${TARN_MAN_PAGE} @ONLY)
    execute_process(COMMAND gzip -9nf ${TARN_MAN_PAGE} COMMAND_ERROR_IS_FATAL ANY)
    install(FILES ${TARN_MAN_PAGE}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
    # The file is named after the command: bash-completion loads it the first time the command is completed.
    install(FILES packaging/tarnserialport.bash-completion DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
            RENAME tarnserialport)
endif()
