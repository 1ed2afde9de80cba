# Installs BUILD_DIR into the scratch prefix PREFIX and checks that everything a user relies on
# is there, and that the menu entry and the metadata name files that were installed.
# Run as: cmake -DBUILD_DIR=... -DPREFIX=... -DAPP_ID=... -P check_install.cmake
file(REMOVE_RECURSE ${PREFIX})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PREFIX}
                RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "cmake --install failed: ${result}")
endif()

set(expected
    bin/heliostat
    bin/heliostat-table
    bin/antenna-controller
    bin/heliostat-calibrate
    bin/heliostat-report
    share/applications/${APP_ID}.desktop
    share/icons/hicolor/scalable/apps/${APP_ID}.svg
    share/metainfo/${APP_ID}.metainfo.xml
    share/man/man1/heliostat.1.gz
    share/man/man1/heliostat-table.1.gz
    share/man/man1/antenna-controller.1.gz
    share/man/man1/heliostat-calibrate.1.gz
    share/man/man1/heliostat-report.1.gz
    lib/systemd/user/antenna-controller.service
    share/doc/heliostat/copyright
    share/doc/heliostat/changelog.gz)

# What the installed files point at must be installed too.
set(desktop ${PREFIX}/share/applications/${APP_ID}.desktop)
set(metainfo ${PREFIX}/share/metainfo/${APP_ID}.metainfo.xml)
if(EXISTS ${desktop})
    file(STRINGS ${desktop} exec REGEX "^Exec=")
    file(STRINGS ${desktop} icon REGEX "^Icon=")
    string(REGEX REPLACE "^Exec=([^ ]+).*" "bin/\\1" exec "${exec}")
    string(REGEX REPLACE "^Icon=(.*)" "share/icons/hicolor/scalable/apps/\\1.svg" icon "${icon}")
    list(APPEND expected "${exec}" "${icon}")
endif()
if(EXISTS ${metainfo})
    file(READ ${metainfo} text)
    string(REGEX MATCH "<launchable type=\"desktop-id\">([^<]+)</launchable>" _ "${text}")
    list(APPEND expected "share/applications/${CMAKE_MATCH_1}")
endif()

set(missing)
foreach(path IN LISTS expected)
    if(NOT EXISTS ${PREFIX}/${path})
        list(APPEND missing ${path})
    endif()
endforeach()
foreach(program heliostat heliostat-table antenna-controller heliostat-calibrate heliostat-report)
    if(EXISTS ${PREFIX}/bin/${program} AND NOT IS_DIRECTORY ${PREFIX}/bin/${program})
        execute_process(COMMAND test -x ${PREFIX}/bin/${program} RESULT_VARIABLE not_executable)
        if(not_executable)
            list(APPEND missing "bin/${program} (not executable)")
        endif()
    endif()
endforeach()
if(missing)
    list(JOIN missing "\n  " missing)
    message(FATAL_ERROR "missing under ${PREFIX}:\n  ${missing}")
endif()
list(LENGTH expected count)
message(STATUS "all ${count} expected paths installed under ${PREFIX}")
