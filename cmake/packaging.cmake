# What the release packages hold and how CPack makes them (scripts/package.sh
# drives it): on Windows a zip of taxoscope.exe and taxoscope-cli.exe with
# README.txt and LICENSE.txt in CR LF; on Linux a Debian package and a tar.gz
# of taxoscope-cli, taxoscope-sim, their man pages and the documentation.
include(GNUInstallDirs)
set(CMAKE_INSTALL_DEFAULT_COMPONENT_NAME programs)
# Folders get the same modes whatever the umask of the build.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(package_dir ${CMAKE_BINARY_DIR}/package)

set(CPACK_PACKAGE_NAME ${PROJECT_NAME})
set(CPACK_PACKAGE_VENDOR "The Taxoscope authors")
set(CPACK_PACKAGE_CONTACT "The Taxoscope authors <taxoscope@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "fiscal memory reader and turnover reports for cash registers")
# Debian shows the description as it stands: lines of at most 80 characters.
string(CONCAT CPACK_PACKAGE_DESCRIPTION
  "Taxoscope reads the fiscal memory of Bulgarian fiscal cash registers of one\n"
  "device family over a serial port, stores the image as a dump file, and turns\n"
  "a dump into a turnover report: by tax group, by department and by payment\n"
  "type, for all daily reports or those of a date range or a report-number range;\n"
  "it also exports the daily reports as CSV, JSON or HTML.\n"
  "\n"
  "This package holds the command-line tool taxoscope-cli, the device\n"
  "simulator taxoscope-sim, which writes dump images and plays the device on a\n"
  "pseudo-terminal, and taxoscope-server, which takes the dumps of many shops\n"
  "over HTTPS into one ledger and serves its monthly VAT table to programs and\n"
  "browsers (a systemd service, off until enabled).")
set(CPACK_STRIP_FILES ON)
set(CPACK_THREADS 1)  # one compressor thread: the same bytes on every machine
# Each package is one file made of components: the archives hold their files
# in the order the install rules give (not the file system's), under one
# top folder; the Debian package sorts them itself and leaves out the licence
# component (cpack_per_generator.cmake).
set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
set(CPACK_COMPONENT_INCLUDE_TOPLEVEL_DIRECTORY ON)  # archives only
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/cpack_per_generator.cmake)

if(WIN32)
  install(TARGETS taxoscope taxoscope-cli RUNTIME DESTINATION .)
  # Text files for Notepad: CR LF line ends.
  foreach(text README.md LICENSE)
    get_filename_component(base ${text} NAME_WE)
    file(READ ${CMAKE_SOURCE_DIR}/${text} content)
    if(text STREQUAL LICENSE)
      # The programs compile SQLite in (cmake/sqlite.cmake).
      string(APPEND content "\n"
        "The programs include SQLite ${TAXOSCOPE_SQLITE_VERSION}, which its authors have\n"
        "dedicated to the public domain: anyone is free to copy, modify, publish, use,\n"
        "compile, sell or distribute it, for any purpose, commercial or not, and by any\n"
        "means.\n")
    endif()
    string(REPLACE "\n" "\r\n" content "${content}")
    file(WRITE ${package_dir}/${base}.txt "${content}")
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${text})
  endforeach()
  install(FILES ${package_dir}/README.txt DESTINATION .)
  install(FILES ${package_dir}/LICENSE.txt DESTINATION . COMPONENT licence)

  set(CPACK_GENERATOR ZIP)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(CPACK_PACKAGE_FILE_NAME ${PROJECT_NAME}-${PROJECT_VERSION}-win64)
  else()
    set(CPACK_PACKAGE_FILE_NAME ${PROJECT_NAME}-${PROJECT_VERSION}-win32)
  endif()
else()
  install(TARGETS taxoscope-cli taxoscope-sim taxoscope-server RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  # The server as a system service, in the Debian package only: its unit
  # (off until enabled), its options in /etc/taxoscope and its system user.
  install(FILES packaging/server/taxoscope-server.service DESTINATION /lib/systemd/system COMPONENT service
          EXCLUDE_FROM_ALL)
  install(FILES packaging/server/server.conf DESTINATION /etc/taxoscope COMPONENT service EXCLUDE_FROM_ALL)
  install(FILES packaging/server/sysusers.conf DESTINATION /usr/lib/sysusers.d RENAME taxoscope.conf
          COMPONENT service EXCLUDE_FROM_ALL)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_SOURCE_DIR}/packaging/debian/conffiles
      ${CMAKE_SOURCE_DIR}/packaging/debian/postinst ${CMAKE_SOURCE_DIR}/packaging/debian/prerm
      ${CMAKE_SOURCE_DIR}/packaging/debian/postrm)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
  # The postinst makes the server's user with adduser where systemd-sysusers is missing.
  set(CPACK_DEBIAN_PACKAGE_DEPENDS adduser)
  if(TAXOSCOPE_MAN_PAGES)
    include(cmake/man_pages.cmake)
    taxoscope_man_page(taxoscope-cli
      "read the fiscal memory of a fiscal cash register and report its turnover"
      "reads the fiscal memory of a fiscal cash register over a serial port into a dump file and turns a dump into its turnover report (Windows-1251 text), as the Windows program taxoscope.exe does, or into exports for other programs (CSV, JSON, HTML; see docs/export.md in the package's documentation), and checks a dump's integrity: damaged records, gaps in the report numbers, a clock set back (see docs/check.md)."
      taxoscope-sim,iconv)
    taxoscope_man_page(taxoscope-sim
      "a simulated fiscal cash register for tests and demonstrations"
      "writes realistic fiscal-memory dump images and plays the fiscal device on a serial line, a new pseudo-terminal by default, so that taxoscope-cli can read it without a real register."
      taxoscope-cli)
    taxoscope_man_page(taxoscope-server
      "the ledger of many shops' fiscal registers behind HTTPS"
      "takes the fiscal-memory dumps of many shops over HTTPS (from taxoscope-cli send, the Windows program or any HTTP client), keeps each one and adds it to one ledger, and serves the ledger's monthly VAT table, exports and check findings to programs (JSON, CSV) and to a browser. The systemd service taxoscope-server runs it with the state folder /var/lib/taxoscope and the options of /etc/taxoscope/server.conf. The API and the setup are described in docs/server.md."
      taxoscope-cli)
  endif()
  install(FILES README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
  # Every page the README, the man pages and the other pages point to.
  install(FILES docs/export.md docs/check.md docs/server.md docs/ledger.md docs/network.md docs/reliability.md
          DESTINATION ${CMAKE_INSTALL_DOCDIR}/docs)
  # Prometheus alerting rules over the server's /metrics.
  install(FILES packaging/server/taxoscope-alerts.yml DESTINATION ${CMAKE_INSTALL_DOCDIR})
  # At the archive's top; an install on this machine has it in the copyright file.
  install(FILES LICENSE DESTINATION . COMPONENT licence EXCLUDE_FROM_ALL)

  # Debian's copyright file in the machine-readable format, its licence text
  # taken from LICENSE.
  string(REGEX REPLACE "^Copyright \\(c\\) " "" TAXOSCOPE_COPYRIGHT_HOLDER "${TAXOSCOPE_COPYRIGHT}")
  file(READ ${CMAKE_SOURCE_DIR}/LICENSE licence)
  string(REGEX REPLACE "^.*\nCopyright [^\n]*\n\n" "" licence "${licence}")
  string(STRIP "${licence}" licence)
  string(REPLACE "\n\n" "\n.\n" licence "${licence}")
  string(REPLACE "\n" "\n " licence "${licence}")
  set(TAXOSCOPE_LICENSE_PARAGRAPHS " ${licence}")
  configure_file(${CMAKE_SOURCE_DIR}/packaging/debian/copyright.in ${package_dir}/copyright @ONLY)

  # The changelog names the version being packaged.
  set(changelog ${CMAKE_SOURCE_DIR}/packaging/debian/changelog)
  file(STRINGS ${changelog} latest LIMIT_COUNT 1)
  if(NOT latest MATCHES "^${PROJECT_NAME} \\(${PROJECT_VERSION}\\) ")
    message(FATAL_ERROR "packaging/debian/changelog: the latest entry is not ${PROJECT_VERSION}")
  endif()
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${changelog})
  execute_process(COMMAND gzip -9n -c ${changelog} OUTPUT_FILE ${package_dir}/changelog.gz
                  RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "gzip failed on packaging/debian/changelog")
  endif()
  install(FILES ${package_dir}/copyright ${package_dir}/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DOCDIR})

  set(CPACK_GENERATOR "DEB;TGZ")
  set(CPACK_PACKAGE_FILE_NAME ${PROJECT_NAME}-${PROJECT_VERSION}-linux-${CMAKE_SYSTEM_PROCESSOR})
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
endif()

include(CPack)
