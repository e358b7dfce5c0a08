# What a shop installs: a Debian package from the POSIX build and a zip from
# the Windows build, both named with the project's version. scripts/package.sh
# runs cpack in each build folder and puts the results in build/packages.

set(FERRIN_PACKAGING_DIR ${CMAKE_SOURCE_DIR}/packaging)
set(FERRIN_PACKAGE_FILES ${CMAKE_BINARY_DIR}/package-files)
file(MAKE_DIRECTORY ${FERRIN_PACKAGE_FILES})

set(CPACK_PACKAGE_NAME ferrin)
set(CPACK_PACKAGE_VENDOR "Halverdon Software Works")
set(CPACK_PACKAGE_CONTACT "Halverdon Software Works <support@halverdon.example.com>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "print what DOS programs write into a spool file")
set(CPACK_OUTPUT_FILE_PREFIX "")
# The install step of cpack builds the one program it packages, not the tests.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)
set(CPACK_STRIP_FILES ON)

if(WIN32)
  # ferrin-<version>-win32.zip: the program, README.txt and an example of the
  # settings, side by side at the top of the zip. Text files get CR LF.
  configure_file(${FERRIN_PACKAGING_DIR}/README-win32.txt.in ${FERRIN_PACKAGE_FILES}/README.txt
                 @ONLY NEWLINE_STYLE CRLF)
  configure_file(${FERRIN_PACKAGING_DIR}/ferrin-win32.ini ${FERRIN_PACKAGE_FILES}/ferrin-example.ini
                 @ONLY NEWLINE_STYLE CRLF)
  install(TARGETS ferrin RUNTIME DESTINATION .)
  install(FILES ${FERRIN_PACKAGE_FILES}/README.txt ${FERRIN_PACKAGE_FILES}/ferrin-example.ini DESTINATION .)

  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME "ferrin-${PROJECT_VERSION}-win32")
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
else()
  # ferrin_<version>_<architecture>.deb for Debian 12 (amd64 here: cpack asks
  # dpkg for the architecture).
  find_program(FERRIN_GZIP gzip REQUIRED)
  # Manual page and changelog gzipped at the highest level and without a time
  # stamp, as Debian packages keep them.
  configure_file(${FERRIN_PACKAGING_DIR}/ferrin.1.in ${FERRIN_PACKAGE_FILES}/ferrin.1 @ONLY)
  configure_file(${FERRIN_PACKAGING_DIR}/changelog.in ${FERRIN_PACKAGE_FILES}/changelog @ONLY)
  foreach(doc ferrin.1 changelog)
    execute_process(COMMAND ${FERRIN_GZIP} -9nf ${FERRIN_PACKAGE_FILES}/${doc} RESULT_VARIABLE gzipped)
    if(NOT gzipped EQUAL 0)
      message(FATAL_ERROR "gzip failed on ${doc}")
    endif()
  endforeach()
  configure_file(${FERRIN_PACKAGING_DIR}/ferrin.ini ${FERRIN_PACKAGE_FILES}/ferrin.ini @ONLY NEWLINE_STYLE CRLF)

  # The program carries the hardening Debian builds its own packages with
  # (sanitizer and fuzz builds bring their own instrumentation instead).
  if(NOT FERRIN_SANITIZE AND NOT FERRIN_FUZZ)
    target_compile_definitions(ferrin_core PUBLIC $<$<NOT:$<CONFIG:Debug>>:_FORTIFY_SOURCE=2>)
    target_compile_options(ferrin_core PUBLIC -fstack-protector-strong)
    target_link_options(ferrin PRIVATE -Wl,-z,relro,-z,now)
  endif()

  set(FERRIN_DOC share/doc/ferrin)
  install(TARGETS ferrin RUNTIME DESTINATION bin)
  install(FILES ${FERRIN_PACKAGE_FILES}/ferrin.1.gz DESTINATION share/man/man1)
  install(FILES ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/docs/dos-emulators.md
                ${FERRIN_PACKAGING_DIR}/copyright ${FERRIN_PACKAGE_FILES}/changelog.gz
          DESTINATION ${FERRIN_DOC})
  install(FILES ${FERRIN_PACKAGE_FILES}/ferrin.ini DESTINATION ${FERRIN_DOC}/examples)
  install(FILES ${FERRIN_PACKAGING_DIR}/ferrin@.service DESTINATION /lib/systemd/system)
  install(FILES ${FERRIN_PACKAGING_DIR}/ferrin-user@.service DESTINATION lib/systemd/user
          RENAME ferrin@.service)
  install(FILES ${FERRIN_PACKAGING_DIR}/lintian-overrides DESTINATION share/lintian/overrides
          RENAME ferrin)

  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://www.halverdon.example.com/ferrin")
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
      "ferrin lets DOS programs, above all point-of-sale software running in a DOS
emulator, print on the printers of the machine. A DOS program writes each
printout as 8-bit text into a spool file of a fixed name; ferrin prints it as
one job through CUPS or into a PDF file, turns form feeds into page breaks and
deletes the file once the job has reached the spooler.
.
The package has a systemd service that runs ferrin unattended for a spool
folder, as the system user ferrin.")
  # Libraries as dpkg-shlibdeps finds them; by hand only what it cannot see:
  # the faces with Courier New's metrics that fontconfig picks for ferrin's
  # default font (printouts keep their columns and line pitch), and adduser
  # for the service's user.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "adduser, fonts-liberation | fonts-liberation2")
  set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
      ${FERRIN_PACKAGING_DIR}/postinst ${FERRIN_PACKAGING_DIR}/prerm ${FERRIN_PACKAGING_DIR}/postrm)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
endif()

include(CPack)
