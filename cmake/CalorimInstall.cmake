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

install(TARGETS calorim-probe calorim-probe-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET calorim-exporter)
  install(TARGETS calorim-exporter RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

# Manual pages, compressed as the packaging rules want them; man reads them
# compressed under every prefix.
set(calorim_manuals calorim calorim-probe)
if(TARGET calorim-exporter)
  list(APPEND calorim_manuals calorim-exporter)
endif()
set(calorim_manual_files)
foreach(page IN LISTS calorim_manuals)
  configure_file(${calorim_packaging}/man/${page}.1.in ${calorim_generated}/man/${page}.1 @ONLY)
  list(APPEND calorim_manual_files ${calorim_generated}/man/${page}.1)
endforeach()
configure_file(${calorim_packaging}/man/calorim-probe-sim.1 ${calorim_generated}/man/calorim-probe-sim.1 COPYONLY)
list(APPEND calorim_manual_files ${calorim_generated}/man/calorim-probe-sim.1)
set(calorim_compressed_manuals)
foreach(page IN LISTS calorim_manual_files)
  add_custom_command(OUTPUT ${page}.gz
    COMMAND gzip -9nc ${page} > ${page}.gz
    DEPENDS ${page}
    VERBATIM)
  list(APPEND calorim_compressed_manuals ${page}.gz)
endforeach()
add_custom_target(calorim_manuals ALL DEPENDS ${calorim_compressed_manuals})
install(FILES ${calorim_compressed_manuals} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# Files naming the installed programs by their absolute path are written when
# installing, under the prefix of that install.
function(calorim_install_configured source name destination)
  set(at_install ${calorim_generated}/at-install/${name})
  install(CODE "
    set(CMAKE_INSTALL_FULL_BINDIR \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
    configure_file(\"${source}\" \"${at_install}\" @ONLY)")
  install(FILES ${at_install} DESTINATION ${destination})
endfunction()

if(APPLE)
  if(TARGET calorim-exporter)
    calorim_install_configured(${calorim_packaging}/macos/org.calorim.exporter.plist.in
                               org.calorim.exporter.plist ${CMAKE_INSTALL_DATADIR}/calorim/launchd)
  endif()
else()
  if(TARGET calorim)
    install(FILES ${calorim_packaging}/linux/org.calorim.Calorim.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
    configure_file(${calorim_packaging}/linux/org.calorim.Calorim.metainfo.xml.in
                   ${calorim_generated}/org.calorim.Calorim.metainfo.xml @ONLY)
    install(FILES ${calorim_generated}/org.calorim.Calorim.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

    set(calorim_icon ${calorim_packaging}/icons/calorim.svg)
    install(FILES ${calorim_icon} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
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
      install(FILES ${png} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
    endforeach()
    add_custom_target(calorim_icons ALL DEPENDS ${calorim_icon_pngs})
  endif()

  if(TARGET calorim-exporter)
    calorim_install_configured(${calorim_packaging}/linux/calorim-exporter.service.in
                               calorim-exporter.service ${CALORIM_SYSTEMD_UNIT_DIR})
  endif()
  install(FILES ${calorim_packaging}/linux/70-calorim-energy.rules DESTINATION ${CALORIM_UDEV_RULES_DIR})
  install(FILES ${calorim_packaging}/linux/calorim.sysusers DESTINATION ${CALORIM_SYSUSERS_DIR} RENAME calorim.conf)
  # The package's own documents, in the form Debian's tools read.
  execute_process(COMMAND date -u -R -d ${CALORIM_RELEASE_DATE}
                  OUTPUT_VARIABLE calorim_changelog_date OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
  configure_file(${calorim_packaging}/debian/changelog.in ${calorim_generated}/changelog @ONLY)
  add_custom_command(OUTPUT ${calorim_generated}/changelog.gz
    COMMAND gzip -9nc ${calorim_generated}/changelog > ${calorim_generated}/changelog.gz
    DEPENDS ${calorim_generated}/changelog
    VERBATIM)
  add_custom_target(calorim_changelog ALL DEPENDS ${calorim_generated}/changelog.gz)
  install(FILES ${calorim_packaging}/debian/copyright ${calorim_generated}/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/calorim)
endif()

# The Debian package: `cpack -G DEB` in the build folder.
set(CPACK_PACKAGE_NAME calorim)
set(CPACK_PACKAGE_VENDOR "Calorim")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${CALORIM_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "power and temperature monitor for the tray, AI agents and Prometheus")
set(CPACK_PACKAGE_HOMEPAGE_URL ${CALORIM_HOMEPAGE_URL})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${CALORIM_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# CPack puts the summary above this text.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "Calorim measures where a machine's power goes (CPU and its cores, GPU,
memory), how busy and how hot it runs, its fans, battery and power adapter.
It shows the figures in the system tray (calorim), answers AI agents over
the Model Context Protocol (calorim-probe) and serves them to Prometheus
(calorim-exporter, with a sandboxed systemd service).
.
On Linux the RAPL energy counters are readable by root alone; an opt-in udev
rule gives them to the calorim group, which has no members until an
administrator adds them.")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
  ${calorim_packaging}/debian/postinst ${calorim_packaging}/debian/prerm ${calorim_packaging}/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)

if(CALORIM_BUILD_TESTS)
  add_subdirectory(${CMAKE_CURRENT_LIST_DIR}/../tests/packaging ${CMAKE_BINARY_DIR}/tests/packaging)
endif()
