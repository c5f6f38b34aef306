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
install(DIRECTORY docs/ DESTINATION ${TARN_INSTALL_DOCDIR}/docs FILES_MATCHING PATTERN "*.md" PATTERN "*.png" PATTERN "*.json")
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

# The packages. Their version is the project's, which --version must print (tests/packaging checks it).
set(CPACK_PACKAGE_NAME tarnserialport)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The tarnserialport developers")
set(TARN_PACKAGE_CONTACT "The tarnserialport developers <tarnserialport@example.invalid>"
    CACHE STRING "Maintainer of the packages: name <e-mail>")
set(CPACK_PACKAGE_CONTACT ${TARN_PACKAGE_CONTACT})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "serial port (COM, 16550 UART) diagnostic for PCs")
# Debian shows the description as written: lines of at most 72 characters.
set(CPACK_PACKAGE_DESCRIPTION
    "tarnserialport tells a technician whether the serial ports of a PC
(16550-style UARTs) work. It runs five tests on each port: whether a
UART answers at the port's I/O base; all combinations of the modem
control lines in the UART's internal loopback; every byte value through
that loopback at nine rates; and, through a loopback plug and the COM
driver, DTR against DSR, RTS against CTS, and a 256-byte ramp at each
baud rate. It reports each fault by name, writes JSON and JUnit
reports, and can test simulated hardware.")
set(CPACK_STRIP_FILES ON)
set(CPACK_VERBATIM_VARIABLES ON)

if(WIN32)
    set(CPACK_GENERATOR ZIP) # tarnserialport-<version>-win64.zip, one folder inside
else()
    set(CPACK_GENERATOR DEB)
    set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT) # tarnserialport_<version>-1_amd64.deb
    set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
    set(CPACK_DEBIAN_PACKAGE_SECTION utils)
    set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON) # Depends: from the libraries the program links (dpkg-shlibdeps)
    set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
    # A Debian package installs under /usr; the man page must have been filled in for that prefix.
    set(CPACK_TARN_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
    set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_SOURCE_DIR}/packaging/CPackChecks.cmake)
endif()
include(CPack)

# The hand-written man page and completion must keep up with --help, and --version with the packages.
if(TARN_BUILD_TESTS AND NOT CMAKE_CROSSCOMPILING)
    add_test(NAME packaging.docs
             COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/tests/packaging/check-docs.sh $<TARGET_FILE:tarnserialport>
                     ${CMAKE_CURRENT_SOURCE_DIR}/packaging/tarnserialport.1.in
                     ${CMAKE_CURRENT_SOURCE_DIR}/packaging/tarnserialport.bash-completion ${PROJECT_VERSION})
    set_tests_properties(packaging.docs PROPERTIES LABELS packaging TIMEOUT 60)
endif()
