# Installation and the Debian packages (scripts/package.sh).
#
# Two packages, so that a headless print server does not pull in GTK:
#   kavelo          the service, the print control and orlendi in
#                   /opt/kavelo/PrintService (the default "DirPath" layout),
#                   kavelo-reg, kavelo-send and kavelo-jobs in /usr/bin, the systemd unit,
#                   the maintainer scripts that create the account "kavelo"
#   kavelo-console  BrelvaneConsole with its desktop entry
# Rules name targets, not source files, and skip a program that is not built.

set(KAVELO_PROGRAM_DIR "opt/kavelo/PrintService")
set(KAVELO_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)
file(MAKE_DIRECTORY ${PROJECT_BINARY_DIR}/packaging)
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

foreach(program Brelvane Ostrevo orlendi)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${KAVELO_PROGRAM_DIR} COMPONENT service)
  endif()
endforeach()
# The service on the administrator's PATH (the link resolves: the service
# still knows itself by its real path).
if(TARGET Brelvane)
  file(CREATE_LINK /${KAVELO_PROGRAM_DIR}/Brelvane ${PROJECT_BINARY_DIR}/packaging/Brelvane SYMBOLIC)
  install(FILES ${PROJECT_BINARY_DIR}/packaging/Brelvane DESTINATION usr/sbin COMPONENT service)
endif()
foreach(program kavelo-reg kavelo-send kavelo-jobs)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION usr/bin COMPONENT service)
  endif()
endforeach()
install(FILES ${KAVELO_PACKAGING_DIR}/brelvane.service DESTINATION lib/systemd/system
        COMPONENT service)
install(FILES ${KAVELO_PACKAGING_DIR}/lintian-overrides DESTINATION usr/share/lintian/overrides
        RENAME kavelo COMPONENT service)
if(TARGET BrelvaneConsole)
  install(TARGETS BrelvaneConsole RUNTIME DESTINATION usr/bin COMPONENT console)
  install(FILES ${KAVELO_PACKAGING_DIR}/BrelvaneConsole.desktop DESTINATION usr/share/applications
          COMPONENT console)
endif()

# Manual pages and the Debian changelog, compressed as Debian wants them
# (gzip -9 -n: no name or time stamp, so the package is reproducible).
find_program(KAVELO_GZIP gzip REQUIRED)
set(KAVELO_COMPRESSED_DIR ${PROJECT_BINARY_DIR}/packaging)
function(kavelo_compressed source output)
  add_custom_command(OUTPUT ${output}
    COMMAND ${KAVELO_GZIP} -9 -n -c ${source} > ${output}
    DEPENDS ${source} VERBATIM)
endfunction()
set(kavelo_compressed_files)
foreach(page Brelvane.8 kavelo-send.1 kavelo-reg.1 kavelo-jobs.1 Ostrevo.1 orlendi.1 BrelvaneConsole.1)
  string(REGEX REPLACE ".*\\." "" section ${page})
  set(output ${KAVELO_COMPRESSED_DIR}/${page}.gz)
  kavelo_compressed(${KAVELO_PACKAGING_DIR}/man/${page} ${output})
  list(APPEND kavelo_compressed_files ${output})
  if(page STREQUAL "BrelvaneConsole.1")
    if(TARGET BrelvaneConsole)
      install(FILES ${output} DESTINATION usr/share/man/man${section} COMPONENT console)
    endif()
  else()
    install(FILES ${output} DESTINATION usr/share/man/man${section} COMPONENT service)
  endif()
endforeach()
# A native package (its version has no Debian revision): changelog.gz.
set(changelog ${KAVELO_COMPRESSED_DIR}/changelog.gz)
kavelo_compressed(${KAVELO_PACKAGING_DIR}/changelog ${changelog})
list(APPEND kavelo_compressed_files ${changelog})
file(MAKE_DIRECTORY ${KAVELO_COMPRESSED_DIR})
add_custom_target(kavelo_package_files ALL DEPENDS ${kavelo_compressed_files})
foreach(component service console)
  set(package kavelo)
  if(component STREQUAL "console")
    set(package kavelo-console)
  endif()
  install(FILES ${changelog} ${KAVELO_PACKAGING_DIR}/copyright
          DESTINATION usr/share/doc/${package} COMPONENT ${component})
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kavelo)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "KAVELO Print Service <print-service@kavelo.example>")
set(CPACK_PACKAGING_INSTALL_PREFIX "/")
set(CPACK_STRIP_FILES ON)
set(CPACK_COMPONENTS_ALL service console)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS OFF)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://kavelo.example/print-service")

set(CPACK_DEBIAN_SERVICE_PACKAGE_NAME kavelo)
set(CPACK_DEBIAN_SERVICE_PACKAGE_SECTION net)
# libcups2 is loaded at run time (platform/cups_library.cpp), so the
# shared-library scan does not see it.
set(CPACK_DEBIAN_SERVICE_PACKAGE_DEPENDS "adduser, passwd, procps, weasyprint, python3, libcups2")
set(CPACK_DEBIAN_SERVICE_PACKAGE_RECOMMENDS "cups-client")
set(CPACK_DEBIAN_SERVICE_PACKAGE_CONTROL_EXTRA
    "${KAVELO_PACKAGING_DIR}/postinst;${KAVELO_PACKAGING_DIR}/prerm;${KAVELO_PACKAGING_DIR}/postrm")
set(CPACK_COMPONENT_SERVICE_DESCRIPTION "network print service for XML reports
Brelvane receives print jobs (an XML report and its XSL stylesheet) over
TCP, keeps them in a queue that survives a restart and has the print
control Ostrevo render each one to HTML, fit it to the paper and print it
through orlendi (WeasyPrint to PDF) on CUPS or a folder spooler.

The package runs the service under its own account kavelo with a
hardened systemd unit, and ships the tools kavelo-reg (registry),
kavelo-send (job client) and kavelo-jobs (job list, history and actions).")

set(CPACK_DEBIAN_CONSOLE_PACKAGE_NAME kavelo-console)
set(CPACK_DEBIAN_CONSOLE_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_CONSOLE_PACKAGE_DEPENDS "kavelo (= ${PROJECT_VERSION})")
set(CPACK_COMPONENT_CONSOLE_DESCRIPTION "configuration console of the Kavelo print service
BrelvaneConsole edits the parameters of the Brelvane print service (port,
connections, timeouts, printer, print control, spool folder) in one
dialog.  It comes apart from the service so that a print server without
a desktop needs no graphical libraries.")

include(CPack)
