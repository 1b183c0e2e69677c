# The program as a desktop application: the window icon rendered from our SVG,
# the install rules (program, desktop entry, icons, AppStream data, manual
# pages, copyright), the Debian package built by CPack, and the tests of all
# of these.
# Included at the end of the top-level CMakeLists.txt, after the targets.

set(VEMLO_VERSION 1.0.0)
# Chosen once: the desktop entry, the AppStream data and the icon carry it.
set(VEMLO_APP_ID io.github.vemlo.Vemlo)
# The X11 window class, which the desktop entry's StartupWMClass names.
set(VEMLO_WM_CLASS vemlo)
# The package's maintainer, also the author of its changelog entry.
set(VEMLO_MAINTAINER "Vemlo developers <developers@vemlo.github.io>")

include(GNUInstallDirs)
# Folders made by the install as Debian wants them, whatever the umask.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

find_program(RSVG_CONVERT rsvg-convert)
find_program(PERL_EXECUTABLE perl)
find_program(GZIP_EXECUTABLE gzip)
find_program(DPKG_PARSECHANGELOG dpkg-parsechangelog)
foreach(tool RSVG_CONVERT PERL_EXECUTABLE GZIP_EXECUTABLE DPKG_PARSECHANGELOG)
  if(NOT ${tool})
    message(FATAL_ERROR "${tool} not found: run  bash scripts/install-deps.sh build  first")
  endif()
endforeach()

set(VEMLO_DATA_OUT ${CMAKE_BINARY_DIR}/data)

# The time of the release is the changelog entry's, as Debian's own builds
# take it: every date the package shows and every file time in it. A time
# the builder sets in SOURCE_DATE_EPOCH goes first.
configure_file(data/changelog.in ${VEMLO_DATA_OUT}/changelog @ONLY)
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(VEMLO_SOURCE_DATE_EPOCH $ENV{SOURCE_DATE_EPOCH})
else()
  execute_process(COMMAND ${DPKG_PARSECHANGELOG} -l ${VEMLO_DATA_OUT}/changelog -STimestamp
    OUTPUT_VARIABLE VEMLO_SOURCE_DATE_EPOCH OUTPUT_STRIP_TRAILING_WHITESPACE
    COMMAND_ERROR_IS_FATAL ANY)
  set(ENV{SOURCE_DATE_EPOCH} ${VEMLO_SOURCE_DATE_EPOCH})
endif()
if(NOT VEMLO_SOURCE_DATE_EPOCH MATCHES "^[0-9]+$")
  message(FATAL_ERROR "SOURCE_DATE_EPOCH is not a number of seconds: ${VEMLO_SOURCE_DATE_EPOCH}")
endif()
string(TIMESTAMP VEMLO_RELEASE_DATE "%Y-%m-%d" UTC)  # from SOURCE_DATE_EPOCH

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
# The first resource format, which records no file times: the rendered icon
# is new in every build.
qt_add_resources(vemlo_common vemlo_icon PREFIX /vemlo FILES ${VEMLO_WINDOW_ICON}
  OPTIONS --format-version 1)
target_compile_definitions(vemlo_gui PUBLIC
  VEMLO_APP_ID="${VEMLO_APP_ID}" VEMLO_WM_CLASS="${VEMLO_WM_CLASS}" VEMLO_VERSION="${VEMLO_VERSION}")

# Desktop entry and AppStream data.
configure_file(data/vemlo.desktop.in ${VEMLO_DATA_OUT}/${VEMLO_APP_ID}.desktop @ONLY)
configure_file(data/vemlo.metainfo.xml.in ${VEMLO_DATA_OUT}/${VEMLO_APP_ID}.metainfo.xml @ONLY)
install(FILES ${VEMLO_DATA_OUT}/${VEMLO_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${VEMLO_DATA_OUT}/${VEMLO_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

# "在 Vemlo 中打开" on folders in the file managers that read actions installed
# for every user. The desktop entry itself names no folder type: declared
# there, it would become the default opener of folders.
foreach(action servicemenu.desktop:kio/servicemenus:.desktop
               folder.nemo_action:nemo/actions:.nemo_action
               here.nemo_action:nemo/actions:.here.nemo_action
               file-manager.desktop:file-manager/actions:.desktop)
  string(REPLACE ":" ";" action "${action}")
  list(GET action 0 source)
  list(GET action 1 folder)
  list(GET action 2 suffix)
  configure_file(data/actions/${source}.in ${VEMLO_DATA_OUT}/actions/${folder}/${VEMLO_APP_ID}${suffix} @ONLY)
  install(FILES ${VEMLO_DATA_OUT}/actions/${folder}/${VEMLO_APP_ID}${suffix}
    DESTINATION ${CMAKE_INSTALL_DATADIR}/${folder})
endforeach()

# Manual pages, version and date filled in, compressed without a name or
# time: English where man looks first, Chinese where it looks under a
# Chinese locale, with break points for the Chinese text.
configure_file(data/vemlo.1 ${VEMLO_DATA_OUT}/man/man1/vemlo.1 @ONLY)
configure_file(data/vemlo.zh_CN.1 ${VEMLO_DATA_OUT}/man/zh_CN.1.in @ONLY)
add_custom_command(OUTPUT ${VEMLO_DATA_OUT}/man/zh_CN/man1/vemlo.1
  COMMAND ${CMAKE_COMMAND} -E make_directory ${VEMLO_DATA_OUT}/man/zh_CN/man1
  COMMAND ${PERL_EXECUTABLE} ${CMAKE_SOURCE_DIR}/cmake/man-breaks.pl
          < ${VEMLO_DATA_OUT}/man/zh_CN.1.in > ${VEMLO_DATA_OUT}/man/zh_CN/man1/vemlo.1
  DEPENDS ${VEMLO_DATA_OUT}/man/zh_CN.1.in ${CMAKE_SOURCE_DIR}/cmake/man-breaks.pl
  COMMENT "Building the Chinese manual page")
foreach(section man1 zh_CN/man1)
  set(page ${VEMLO_DATA_OUT}/man/${section}/vemlo.1)
  add_custom_command(OUTPUT ${page}.gz
    COMMAND ${GZIP_EXECUTABLE} -9 -n -c ${page} > ${page}.gz
    DEPENDS ${page}
    COMMENT "Compressing the manual page ${section}/vemlo.1")
  list(APPEND VEMLO_DATA_FILES ${page}.gz)
  install(FILES ${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/${section})
endforeach()

# The package's documents: the copyright in the machine-readable format and
# the changelog, compressed as Debian's tools expect it.
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
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "Chinese desktop tool to filter, sort and batch-rename a folder's files")
# CPack puts the summary above this as the synopsis line; an empty line
# parts paragraphs.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "Vemlo shows the files and subfolders of one folder in a table, with their\n\
name, format, size, times and attributes, and works on everything listed at\n\
once: filters the table by keywords, moves entries into subfolders named after\n\
keywords, renames them to numbered names, sets their read-only, hidden,\n\
archive and system attributes where Windows sees them over Samba, exports\n\
the table to a spreadsheet and charts the space each file format takes.\n\
Moves and renames never overwrite an existing file or folder.\n\
\n\
The program's windows are in Simplified Chinese.\n\
\n\
在一张表格中列出一个文件夹里的文件和子文件夹（名称、格式、大小、\n\
时间和属性），并对列出的全部条目一次完成处理：按关键字筛选，\n\
按关键字整理到子文件夹，批量编号重命名，批量更改只读、隐藏、\n\
存档和系统属性，把表格导出为电子表格，并用饼状图显示各种格式的\n\
文件所占用的空间。移动和重命名从不覆盖已有的文件或文件夹。")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://vemlo.github.io/")
# Shared libraries as linked, then what the program needs beside them: a font
# for the Chinese captions.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-wqy-microhei | fonts-noto-cjk")
# Typing Chinese: Qt 6's front end of fcitx5, or ibus, which Qt reaches by
# itself; Qt's Chinese texts for its standard dialogs (English without
# them); Qt's Wayland platform for Wayland sessions. The pinyin engine makes
# the fcitx5 front end useful.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fcitx5-frontend-qt6 | ibus, qt6-translations-l10n, qt6-wayland")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "fcitx5-chinese-addons")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR})
# Every member of the package carries the release time, whenever it is built,
# and the same mode, whatever the umask.
file(WRITE ${CMAKE_BINARY_DIR}/CPackReproducible.cmake
  "set(ENV{SOURCE_DATE_EPOCH} ${VEMLO_SOURCE_DATE_EPOCH})\n")
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_BINARY_DIR}/CPackReproducible.cmake)
file(WRITE ${CMAKE_BINARY_DIR}/CPackMemberModes.cmake
  "execute_process(COMMAND ${PERL_EXECUTABLE} ${CMAKE_SOURCE_DIR}/cmake/deb-member-modes.pl \${CPACK_PACKAGE_FILES}
     COMMAND_ERROR_IS_FATAL ANY)\n")
set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_BINARY_DIR}/CPackMemberModes.cmake)
include(CPack)

# Tests of the installed files, the package and the program's start, and
# the slow one: the package built twice from scratch, compared. Python is
# looked up when they run: `make test` installs it, building does not need it.
if(VEMLO_TESTS)
  set(VEMLO_PACKAGE_TEST_ENV
    "VEMLO_BUILD_DIR=${CMAKE_BINARY_DIR}"
    "VEMLO_PROGRAM=$<TARGET_FILE:vemlo>"
    "VEMLO_SOURCE_DIR=${CMAKE_SOURCE_DIR}"
    "LC_ALL=C.UTF-8")
  foreach(case InstallTest PackageTest LintianTest StartTest ReproducibleTest)
    add_test(NAME package_${case}
      COMMAND python3 ${CMAKE_SOURCE_DIR}/tests/test_package.py -v ${case})
    set_tests_properties(package_${case} PROPERTIES
      ENVIRONMENT "${VEMLO_PACKAGE_TEST_ENV}" TIMEOUT 300 LABELS package)
  endforeach()
  set_tests_properties(package_ReproducibleTest PROPERTIES TIMEOUT 3600 LABELS "package;slow")
endif()
