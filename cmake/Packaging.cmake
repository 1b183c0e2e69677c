# The program as a desktop application: the window icon rendered from our SVG,
# the install rules (program, desktop entry, icons, AppStream data, manual
# page), the Debian package built by CPack, and the tests of all of these.
# Included at the end of the top-level CMakeLists.txt, after the targets.

set(VEMLO_VERSION 1.0.0)
set(VEMLO_RELEASE_DATE 2026-12-07)
# Chosen once: the desktop entry, the AppStream data and the icon carry it.
set(VEMLO_APP_ID io.github.vemlo.Vemlo)
# The X11 window class, which the desktop entry's StartupWMClass names.
set(VEMLO_WM_CLASS vemlo)
# The package's maintainer, also the author of its changelog entry.
set(VEMLO_MAINTAINER "Vemlo developers <developers@vemlo.github.io>")

include(GNUInstallDirs)

find_program(RSVG_CONVERT rsvg-convert)
find_program(PERL_EXECUTABLE perl)
find_program(GZIP_EXECUTABLE gzip)
foreach(tool RSVG_CONVERT PERL_EXECUTABLE GZIP_EXECUTABLE)
  if(NOT ${tool})
    message(FATAL_ERROR "${tool} not found: run  bash scripts/install-deps.sh  first")
  endif()
endforeach()

set(VEMLO_DATA_OUT ${CMAKE_BINARY_DIR}/data)
set(VEMLO_ICON_SVG ${CMAKE_SOURCE_DIR}/data/vemlo.svg)
set(VEMLO_ICON_SIZES 16 32 48 64 128 256)

# Icons: one PNG per size, rendered from the SVG at build time.
set(VEMLO_DATA_FILES)
foreach(size ${VEMLO_ICON_SIZES})
  set(png ${VEMLO_DATA_OUT}/icons/${size}/${VEMLO_APP_ID}.png)
  add_custom_command(OUTPUT ${png}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${VEMLO_DATA_OUT}/icons/${size}
    COMMAND ${RSVG_CONVERT} --width=${size} --height=${size} --output=${png} ${VEMLO_ICON_SVG}
    DEPENDS ${VEMLO_ICON_SVG}
    COMMENT "Rendering the ${size} px icon")
  list(APPEND VEMLO_DATA_FILES ${png})
  install(FILES ${png} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()
install(FILES ${VEMLO_ICON_SVG} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
  RENAME ${VEMLO_APP_ID}.svg)

# The window icon is the 32 px rendering, built into the program.
set(VEMLO_WINDOW_ICON ${VEMLO_DATA_OUT}/icons/32/${VEMLO_APP_ID}.png)
set_source_files_properties(${VEMLO_WINDOW_ICON} PROPERTIES QT_RESOURCE_ALIAS icon-32.png GENERATED TRUE)
qt_add_resources(vemlo_common vemlo_icon PREFIX /vemlo FILES ${VEMLO_WINDOW_ICON})
target_compile_definitions(vemlo_gui PUBLIC
  VEMLO_APP_ID="${VEMLO_APP_ID}" VEMLO_WM_CLASS="${VEMLO_WM_CLASS}")

# Desktop entry and AppStream data.
configure_file(data/vemlo.desktop.in ${VEMLO_DATA_OUT}/${VEMLO_APP_ID}.desktop @ONLY)
configure_file(data/vemlo.metainfo.xml.in ${VEMLO_DATA_OUT}/${VEMLO_APP_ID}.metainfo.xml @ONLY)
install(FILES ${VEMLO_DATA_OUT}/${VEMLO_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${VEMLO_DATA_OUT}/${VEMLO_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

# Manual page: version filled in, break points for the Chinese text, gzip.
configure_file(data/vemlo.1 ${VEMLO_DATA_OUT}/vemlo.1.in @ONLY)
add_custom_command(OUTPUT ${VEMLO_DATA_OUT}/vemlo.1 ${VEMLO_DATA_OUT}/vemlo.1.gz
  COMMAND ${PERL_EXECUTABLE} ${CMAKE_SOURCE_DIR}/cmake/man-breaks.pl
          < ${VEMLO_DATA_OUT}/vemlo.1.in > ${VEMLO_DATA_OUT}/vemlo.1
  COMMAND ${GZIP_EXECUTABLE} -9 -n -c ${VEMLO_DATA_OUT}/vemlo.1 > ${VEMLO_DATA_OUT}/vemlo.1.gz
  DEPENDS ${VEMLO_DATA_OUT}/vemlo.1.in ${CMAKE_SOURCE_DIR}/cmake/man-breaks.pl
  COMMENT "Building the manual page")
list(APPEND VEMLO_DATA_FILES ${VEMLO_DATA_OUT}/vemlo.1.gz)
install(FILES ${VEMLO_DATA_OUT}/vemlo.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# The package's documents: the copyright in the machine-readable format and
# the changelog, compressed as Debian's tools expect it.
configure_file(data/changelog.in ${VEMLO_DATA_OUT}/changelog @ONLY)
add_custom_command(OUTPUT ${VEMLO_DATA_OUT}/changelog.gz
  COMMAND ${GZIP_EXECUTABLE} -9 -n -c ${VEMLO_DATA_OUT}/changelog > ${VEMLO_DATA_OUT}/changelog.gz
  DEPENDS ${VEMLO_DATA_OUT}/changelog
  COMMENT "Compressing the changelog")
list(APPEND VEMLO_DATA_FILES ${VEMLO_DATA_OUT}/changelog.gz)
install(FILES data/copyright ${VEMLO_DATA_OUT}/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})

add_custom_target(vemlo_data ALL DEPENDS ${VEMLO_DATA_FILES})

install(TARGETS vemlo RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# Without the compilers' notes, as Debian ships its programs.
install(CODE "execute_process(COMMAND ${CMAKE_OBJCOPY} --remove-section=.comment --remove-section=.note
  \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/vemlo\" COMMAND_ERROR_IS_FATAL ANY)")

# The Debian package (make package).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vemlo)
set(CPACK_PACKAGE_VERSION ${VEMLO_VERSION})
set(CPACK_PACKAGE_VENDOR "Vemlo developers")
set(CPACK_PACKAGE_CONTACT "${VEMLO_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "文件管理器Vemlo - batch work on the entries of one folder")
# CPack puts the summary above this as the synopsis line.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "Vemlo lists the entries of one folder in a seven-column table, filters them,\n\
moves them into keyword subfolders, renames them to numbered names, sets\n\
their attributes, exports the table to a workbook and charts the space\n\
taken by each file format. Every text of the program is Simplified Chinese.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://vemlo.github.io/")
# Shared libraries as linked, then what the program needs beside them: a font
# for the Chinese captions and Qt's Chinese texts for its standard dialogs.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-wqy-microhei | fonts-noto-cjk, qt6-translations-l10n")
# Typing Chinese: Qt 6's front end of fcitx5, or ibus, which Qt reaches by
# itself; and Qt's Wayland platform for Wayland sessions.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fcitx5-frontend-qt6 | ibus, qt6-wayland")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR})
include(CPack)

# Tests of the installed files, the package and the program's start.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
set(VEMLO_PACKAGE_TEST_ENV
  "VEMLO_BUILD_DIR=${CMAKE_BINARY_DIR}"
  "VEMLO_PROGRAM=$<TARGET_FILE:vemlo>"
  "VEMLO_SOURCE_DIR=${CMAKE_SOURCE_DIR}"
  "LC_ALL=C.UTF-8")
foreach(case InstallTest PackageTest LintianTest StartTest)
  add_test(NAME package_${case}
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/test_package.py -v ${case})
  set_tests_properties(package_${case} PROPERTIES
    ENVIRONMENT "${VEMLO_PACKAGE_TEST_ENV}" LABELS package TIMEOUT 300)
endforeach()
