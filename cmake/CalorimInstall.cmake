# Where `cmake --install` puts the programs and the system integration around
# them, and the Debian package `cpack -G DEB` makes of the same tree. Every
# destination is relative to the install prefix, so a staging root, /usr/local
# or /usr all work; the programs find their data relative to themselves.

include(GNUInstallDirs)

set(CALORIM_HOMEPAGE_URL "https://calorim.invalid" CACHE STRING
    "Home page named by the package and the AppStream metadata; its screenshots/ folder holds the screenshots")
set(CALORIM_RELEASE_DATE "2026-12-07" CACHE STRING "Date of this release (YYYY-MM-DD) in the manual pages and AppStream")
set(CALORIM_MAINTAINER "Calorim maintainers <maintainers@calorim.invalid>" CACHE STRING
    "Maintainer named by the Debian package")
set(CALORIM_SYSTEMD_UNIT_DIR "lib/systemd/system" CACHE STRING "systemd system units, relative to the prefix")
set(CALORIM_UDEV_RULES_DIR "lib/udev/rules.d" CACHE STRING "udev rules, relative to the prefix")
set(CALORIM_SYSUSERS_DIR "lib/sysusers.d" CACHE STRING "sysusers.d entries, relative to the prefix")

set(calorim_packaging ${CMAKE_CURRENT_LIST_DIR}/../packaging)
set(calorim_generated ${CMAKE_BINARY_DIR}/packaging)

# Two components, two Debian packages: "tools" holds the programs without Qt
# (the probes, the exporter, the terminal programs and their system integration)
# for headless machines; "app" holds the tray application and depends on "tools".
set(calorim_tools_doc ${CMAKE_INSTALL_DATADIR}/doc/calorim-tools)
set(calorim_app_doc ${CMAKE_INSTALL_DATADIR}/doc/calorim)

install(TARGETS calorim-probe calorim-probe-sim calorim-top calorim-run RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tools)
if(TARGET calorim-exporter)
  install(TARGETS calorim-exporter RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tools)
endif()

# Files naming installed paths are written when installing, under the prefix
# of that install (a staging root, /usr/local, or /usr for the package).
function(calorim_install_configured source name destination component)
  set(at_install ${calorim_generated}/at-install/${name})
  install(CODE "
    set(CMAKE_INSTALL_FULL_BINDIR \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
    configure_file(\"${source}\" \"${at_install}\" @ONLY)" COMPONENT ${component})
  install(FILES ${at_install} DESTINATION ${destination} COMPONENT ${component})
endfunction()

# Manual pages, compressed as the packaging rules want them (man reads them
# compressed under every prefix), naming the files of the prefix installed to.
function(calorim_install_manual source page component)
  set(at_install ${calorim_generated}/at-install/man/${page}.1)
  install(CODE "
    set(PROJECT_VERSION \"${PROJECT_VERSION}\")
    set(CALORIM_RELEASE_DATE \"${CALORIM_RELEASE_DATE}\")
    set(CMAKE_INSTALL_FULL_DATADIR \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DATADIR}\")
    set(CALORIM_SYSTEMD_UNIT_FULL_DIR \"\${CMAKE_INSTALL_PREFIX}/${CALORIM_SYSTEMD_UNIT_DIR}\")
    configure_file(\"${source}\" \"${at_install}\" @ONLY)
    execute_process(COMMAND gzip -9nf \"${at_install}\" COMMAND_ERROR_IS_FATAL ANY)" COMPONENT ${component})
  install(FILES ${at_install}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT ${component})
endfunction()

calorim_install_manual(${calorim_packaging}/man/calorim-probe.1.in calorim-probe tools)
calorim_install_manual(${calorim_packaging}/man/calorim-probe-sim.1 calorim-probe-sim tools)
calorim_install_manual(${calorim_packaging}/man/calorim-top.1.in calorim-top tools)
calorim_install_manual(${calorim_packaging}/man/calorim-run.1.in calorim-run tools)
if(TARGET calorim-exporter)
  calorim_install_manual(${calorim_packaging}/man/calorim-exporter.1.in calorim-exporter tools)
endif()
if(TARGET calorim)
  calorim_install_manual(${calorim_packaging}/man/calorim.1.in calorim app)
endif()

if(APPLE)
  if(TARGET calorim-exporter)
    calorim_install_configured(${calorim_packaging}/macos/org.calorim.exporter.plist.in
                               org.calorim.exporter.plist ${CMAKE_INSTALL_DATADIR}/calorim/launchd tools)
  endif()
else()
  if(TARGET calorim)
    install(FILES ${calorim_packaging}/linux/org.calorim.Calorim.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications
            COMPONENT app)
    configure_file(${calorim_packaging}/linux/org.calorim.Calorim.metainfo.xml.in
                   ${calorim_generated}/org.calorim.Calorim.metainfo.xml @ONLY)
    install(FILES ${calorim_generated}/org.calorim.Calorim.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo
            COMPONENT app)

    set(calorim_icon ${calorim_packaging}/icons/calorim.svg)
    install(FILES ${calorim_icon} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps COMPONENT app)
    find_program(RSVG_CONVERT rsvg-convert REQUIRED)
    set(calorim_icon_pngs)
    foreach(size 16 22 24 32 48 64 128 256)
      set(png ${calorim_generated}/icons/${size}/calorim.png)
      add_custom_command(OUTPUT ${png}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${calorim_generated}/icons/${size}
        COMMAND ${RSVG_CONVERT} -w ${size} -h ${size} -o ${png} ${calorim_icon}
        DEPENDS ${calorim_icon}
        VERBATIM)
      list(APPEND calorim_icon_pngs ${png})
      install(FILES ${png} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps COMPONENT app)
    endforeach()
    add_custom_target(calorim_icons ALL DEPENDS ${calorim_icon_pngs})
  endif()

  if(TARGET calorim-exporter)
    calorim_install_configured(${calorim_packaging}/linux/calorim-exporter.service.in
                               calorim-exporter.service ${CALORIM_SYSTEMD_UNIT_DIR} tools)
  endif()
  install(FILES ${calorim_packaging}/linux/70-calorim-energy.rules DESTINATION ${CALORIM_UDEV_RULES_DIR} COMPONENT tools)
  install(FILES ${calorim_packaging}/linux/calorim.sysusers DESTINATION ${CALORIM_SYSUSERS_DIR} RENAME calorim.conf
          COMPONENT tools)
  # The package's own documents, in the form Debian's tools read.
  execute_process(COMMAND date -u -R -d ${CALORIM_RELEASE_DATE}
                  OUTPUT_VARIABLE calorim_changelog_date OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
  configure_file(${calorim_packaging}/debian/changelog.in ${calorim_generated}/changelog @ONLY)
  add_custom_command(OUTPUT ${calorim_generated}/changelog.gz
    COMMAND gzip -9nc ${calorim_generated}/changelog > ${calorim_generated}/changelog.gz
    DEPENDS ${calorim_generated}/changelog
    VERBATIM)
  add_custom_target(calorim_changelog ALL DEPENDS ${calorim_generated}/changelog.gz)
  # Each package's folder holds the README, which the programs' messages
  # point to.
  set(calorim_documents ${calorim_packaging}/debian/copyright ${calorim_generated}/changelog.gz
                        ${PROJECT_SOURCE_DIR}/README.md)
  install(FILES ${calorim_documents} DESTINATION ${calorim_tools_doc} COMPONENT tools)
  if(TARGET calorim)
    install(FILES ${calorim_documents} DESTINATION ${calorim_app_doc} COMPONENT app)
  endif()
endif()

# The Debian packages: `cpack -G DEB` in the build folder makes
# calorim-tools (no Qt) and, with the application, calorim depending on it.
set(CPACK_PACKAGE_NAME calorim)
set(CPACK_PACKAGE_VENDOR "Calorim")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${CALORIM_MAINTAINER})
set(CPACK_PACKAGE_HOMEPAGE_URL ${CALORIM_HOMEPAGE_URL})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL tools)
if(TARGET calorim)
  list(APPEND CPACK_COMPONENTS_ALL app)
endif()
set(CPACK_COMPONENT_APP_DEPENDS tools)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${CALORIM_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME calorim-tools)
set(CPACK_DEBIAN_APP_PACKAGE_NAME calorim)
# CPack puts the first line above the rest as the summary.
set(CPACK_COMPONENT_TOOLS_DESCRIPTION
  "power and temperature monitor for AI agents and Prometheus
Calorim measures where a machine's power goes (CPU and its cores, GPU,
memory), how busy and how hot it runs, its fans, battery and power adapter.
This package holds the programs that need no desktop: the Model Context
Protocol server for AI agents (calorim-probe, and calorim-probe-sim on a
simulated machine), the Prometheus exporter (calorim-exporter, with a
sandboxed systemd service), a live view for the terminal (calorim-top) and
the energy of one command (calorim-run).
.
On Linux the RAPL energy counters are readable by root alone; an opt-in udev
rule gives them to the calorim group, which has no members until an
administrator adds them.")
set(CPACK_COMPONENT_APP_DESCRIPTION
  "power and temperature monitor for the system tray
Calorim measures where a machine's power goes (CPU and its cores, GPU,
memory), how busy and how hot it runs, its fans, battery and power adapter.
This package shows the figures in the system tray (calorim), with a detail
window, a ports and power window and settings. The programs for AI agents
and Prometheus are in calorim-tools.")
set(CPACK_DEBIAN_TOOLS_PACKAGE_CONTROL_EXTRA
  ${calorim_packaging}/debian/postinst ${calorim_packaging}/debian/prerm ${calorim_packaging}/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)

if(CALORIM_BUILD_TESTS)
  add_subdirectory(${CMAKE_CURRENT_LIST_DIR}/../tests/packaging ${CMAKE_BINARY_DIR}/tests/packaging)
endif()
