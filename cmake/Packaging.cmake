# Installing the programs the way desktop software is installed: the programs in bin/, a menu
# entry with its icon, AppStream metadata, compressed manual pages, an optional user service for
# the antenna controller, and a Debian package built from the same rules by CPack
# (scripts/package.sh). Included from the top level before the programs' folders, so that their
# install(TARGETS) calls get GNUInstallDirs' destinations.
include(GNUInstallDirs)

# One reverse-DNS id names the desktop entry, the icon and the metadata.
set(HELIOSTAT_APP_ID jp.heliostat_steering.Heliostat)
set(HELIOSTAT_HOMEPAGE "https://git.example/heliostat"
    CACHE STRING "Where the repository is published; the metadata's homepage and screenshot URLs start with it")
set(HELIOSTAT_MAINTAINER "Heliostat steering maintainers <maintainers@heliostat-steering.example>"
    CACHE STRING "Maintainer field of the Debian package")

set(HELIOSTAT_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)
set(HELIOSTAT_PACKAGING_OUT ${PROJECT_BINARY_DIR}/packaging)

# The version and the install paths are filled in here, so the sources name neither.
configure_file(${HELIOSTAT_PACKAGING_DIR}/${HELIOSTAT_APP_ID}.metainfo.xml.in
               ${HELIOSTAT_PACKAGING_OUT}/${HELIOSTAT_APP_ID}.metainfo.xml @ONLY)
configure_file(${HELIOSTAT_PACKAGING_DIR}/antenna-controller.service.in
               ${HELIOSTAT_PACKAGING_OUT}/antenna-controller.service @ONLY)

install(FILES ${HELIOSTAT_PACKAGING_DIR}/${HELIOSTAT_APP_ID}.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${HELIOSTAT_PACKAGING_DIR}/${HELIOSTAT_APP_ID}.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${HELIOSTAT_PACKAGING_OUT}/${HELIOSTAT_APP_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
# systemd looks for user units under lib/, not under the multiarch library folder.
install(FILES ${HELIOSTAT_PACKAGING_OUT}/antenna-controller.service DESTINATION lib/systemd/user)
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR} RENAME copyright)

# Manual pages and the changelog: the version goes in, then gzip -n so that rebuilding gives
# the same bytes.
set(HELIOSTAT_MAN_PAGES
    heliostat heliostat-table antenna-controller heliostat-calibrate heliostat-report)
set(heliostat_man_gz)
set(heliostat_gz)
foreach(page IN LISTS HELIOSTAT_MAN_PAGES)
    configure_file(${HELIOSTAT_PACKAGING_DIR}/man/${page}.1
                   ${HELIOSTAT_PACKAGING_OUT}/man/${page}.1 @ONLY)
    list(APPEND heliostat_man_gz ${HELIOSTAT_PACKAGING_OUT}/man/${page}.1.gz)
endforeach()
configure_file(${HELIOSTAT_PACKAGING_DIR}/changelog.in ${HELIOSTAT_PACKAGING_OUT}/changelog @ONLY)
foreach(gz IN LISTS heliostat_man_gz ITEMS ${HELIOSTAT_PACKAGING_OUT}/changelog.gz)
    string(REGEX REPLACE "[.]gz$" "" plain ${gz})
    add_custom_command(OUTPUT ${gz} COMMAND gzip -9 -n -k -f ${plain} DEPENDS ${plain} VERBATIM)
    list(APPEND heliostat_gz ${gz})
endforeach()
add_custom_target(heliostat_compressed_docs ALL DEPENDS ${heliostat_gz})
install(FILES ${heliostat_man_gz} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${HELIOSTAT_PACKAGING_OUT}/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})

# The Debian package.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME heliostat)
set(CPACK_PACKAGE_VENDOR "The heliostat developers")
set(CPACK_PACKAGE_CONTACT ${HELIOSTAT_MAINTAINER})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "steer a sun-reflecting mirror toward a fixed target")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${HELIOSTAT_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# What no library link reveals: the Japanese font the window draws with, Qt's platform plugins,
# Qt's Japanese catalogue, the SVG plugins that draw the window icon, and rotctld, which the
# controller's manual page relies on.
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "fonts-ipaexfont-gothic, qt6-qpa-plugins, qt6-translations-l10n, libqt6svg6, libhamlib-utils")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Every 750 ms the window (heliostat) computes the sun's position for Japan
Standard Time at an observation point, points a mirror between the sun and a
fixed target, draws a polar sky chart, announces sunset and sunrise, and sends
the mirror angles over UDP to the antenna controller (antenna-controller),
which drives the mount through Hamlib. heliostat-table prints the same
calculation over a time range as CSV, heliostat-report turns the session
records into plots and a summary, and heliostat-calibrate records
calibration observations through the controller and fits a model of the
mount's errors, which the controller and the table then correct for.

太陽軌道・反射鏡角度計算: 観測点の日本標準時で太陽の位置を計算し、太陽と目標の
間に反射鏡を向け、天空図を描き、日の入りと日の出を知らせ、反射鏡の角度を UDP で
アンテナコントローラ (antenna-controller) へ送ります。アンテナコントローラは
Hamlib で架台を動かします。heliostat-table は同じ計算を時間範囲にわたって CSV で
出力します。")
include(CPack)
