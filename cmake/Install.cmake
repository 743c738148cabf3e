# What `cmake --install` (and the Debian package) puts where, under the GNU install directories:
#
#   bin/                                       qor-oneclick, qor-oneclick-cli, qor-router-sim, qor-mkimage
#   share/man/man1/<program>.1.gz              manual pages (help2man from --help and --version, with
#                                              the hand-written sections of docs/man/<program>.h2m)
#   share/applications/qor-oneclick.desktop    the menu entry
#   share/metainfo/<id>.metainfo.xml           AppStream metadata
#   share/icons/hicolor/{scalable,NxN}/apps/   the icon: our SVG and PNGs rendered from it
#   share/locale, share/qor-oneclick/translations   (cmake/Translations.cmake)
#   share/doc/qor-oneclick/                    README, copyright, changelog, the CLI's JSON Schema
#
# Every generated file is made in <build>/share in the installed layout, so the build tree can be
# checked like an installation. The tools are required (help2man, gzip, rsvg-convert: the Makefile
# installs them); a sanitizer build makes no manual pages, a build without the window installs no
# desktop entry, metadata or icons.

# directories 0755 whatever the builder's umask
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

# the programs find their translations beside them (<program folder>/../share) and, failing that,
# in the installation's folders
target_compile_definitions(qor_platform PRIVATE QOR_LOCALEDIR="${CMAKE_INSTALL_FULL_LOCALEDIR}")
if(QOR_BUILD_GUI)
  target_compile_definitions(qor_gui PRIVATE QOR_DATADIR="${CMAKE_INSTALL_FULL_DATADIR}")
endif()

# the programs of this configuration: the window only with QOR_BUILD_GUI
set(QOR_PROGRAMS qor-oneclick-cli qor-router-sim qor-mkimage)
if(QOR_BUILD_GUI)
  list(PREPEND QOR_PROGRAMS qor-oneclick)
endif()
set(QOR_APP_ID com.tavrix.qoroneclick)
set(QOR_DESKTOP_DIR ${CMAKE_SOURCE_DIR}/resources/desktop)
set(QOR_ICON_SVG ${CMAKE_SOURCE_DIR}/resources/icons/qor-oneclick.svg)
set(QOR_ICON_SIZES 16 22 24 32 48 64 128 256)
set(QOR_PACKAGING_DIR ${CMAKE_SOURCE_DIR}/resources/packaging)
set(QOR_SHARE_BUILD_DIR ${CMAKE_BINARY_DIR}/share)

install(TARGETS ${QOR_PROGRAMS} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# ---- manual pages ---------------------------------------------------------------------------------
# help2man runs the programs just built; a sanitizer build would add its own reports, so only a normal
# build makes them.
find_program(QOR_HELP2MAN help2man REQUIRED)
find_program(QOR_GZIP gzip REQUIRED)
set(_man_outputs "")
set(_man_names_qor-oneclick "upgrade a router and its built-in 3G modem (desktop tool)")
set(_man_names_qor-oneclick-cli "upgrade a router and its built-in 3G modem from a terminal")
set(_man_names_qor-router-sim "emulate a router with its wireless module on a local address")
set(_man_names_qor-mkimage "build and inspect upgrade images")
if(NOT QOR_SANITIZE)
  set(_man_dir ${QOR_SHARE_BUILD_DIR}/man/man1)
  foreach(_program ${QOR_PROGRAMS})
    set(_include ${CMAKE_SOURCE_DIR}/docs/man/${_program}.h2m)
    set(_page ${_man_dir}/${_program}.1)
    # the English page whatever the builder's language; the window's help needs no display
    add_custom_command(OUTPUT ${_page}.gz
      COMMAND ${CMAKE_COMMAND} -E make_directory ${_man_dir}
      COMMAND ${CMAKE_COMMAND} -E env --unset=LANGUAGE LC_ALL=C LANG=C QT_QPA_PLATFORM=offscreen
              ${QOR_HELP2MAN} --no-info --section=1 --source=QorOneClick
              --name=${_man_names_${_program}} --include=${_include} --output=${_page}
              $<TARGET_FILE:${_program}>
      COMMAND ${QOR_GZIP} -9nf ${_page}
      DEPENDS ${_program} ${_include}
      COMMENT "Writing the manual page of ${_program}"
      VERBATIM)
    list(APPEND _man_outputs ${_page}.gz)
  endforeach()
  install(FILES ${_man_outputs} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()
add_custom_target(qor_man_pages ALL DEPENDS ${_man_outputs})

# ---- desktop entry, metadata and icons ----------------------------------------------------------
# The release's date in the metadata is the date of the changelog's top entry.
file(STRINGS ${QOR_PACKAGING_DIR}/changelog _trailer REGEX "^ -- " LIMIT_COUNT 1)
set(QOR_RELEASE_DATE "")
if(_trailer MATCHES ", ([0-9][0-9]?) ([A-Z][a-z][a-z]) ([0-9][0-9][0-9][0-9]) ")
  set(_day ${CMAKE_MATCH_1})
  set(_year ${CMAKE_MATCH_3})
  set(_months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
  list(FIND _months ${CMAKE_MATCH_2} _month)
  math(EXPR _month "${_month} + 1")
  if(_month LESS 10)
    set(_month 0${_month})
  endif()
  if(_day LESS 10 AND NOT _day MATCHES "^0")
    set(_day 0${_day})
  endif()
  set(QOR_RELEASE_DATE ${_year}-${_month}-${_day})
endif()
if(NOT QOR_RELEASE_DATE)
  message(WARNING "resources/packaging/changelog: no date found in the top entry's trailer line")
endif()

if(QOR_BUILD_GUI)
  install(FILES ${QOR_DESKTOP_DIR}/qor-oneclick.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  configure_file(${QOR_DESKTOP_DIR}/${QOR_APP_ID}.metainfo.xml.in
                 ${QOR_SHARE_BUILD_DIR}/metainfo/${QOR_APP_ID}.metainfo.xml @ONLY)
  install(FILES ${QOR_SHARE_BUILD_DIR}/metainfo/${QOR_APP_ID}.metainfo.xml
          DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
  install(FILES ${QOR_ICON_SVG} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)

  find_program(QOR_RSVG_CONVERT rsvg-convert REQUIRED)
  set(_icon_outputs "")
  foreach(_size ${QOR_ICON_SIZES})
    set(_dir ${QOR_SHARE_BUILD_DIR}/icons/hicolor/${_size}x${_size}/apps)
    add_custom_command(OUTPUT ${_dir}/qor-oneclick.png
      COMMAND ${CMAKE_COMMAND} -E make_directory ${_dir}
      COMMAND ${QOR_RSVG_CONVERT} --width=${_size} --height=${_size} --format=png
              --output=${_dir}/qor-oneclick.png ${QOR_ICON_SVG}
      DEPENDS ${QOR_ICON_SVG}
      VERBATIM)
    list(APPEND _icon_outputs ${_dir}/qor-oneclick.png)
    install(FILES ${_dir}/qor-oneclick.png DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${_size}x${_size}/apps)
  endforeach()
  add_custom_target(qor_icons ALL DEPENDS ${_icon_outputs})
endif()

# ---- documentation ------------------------------------------------------------------------------
set(_doc_dir ${QOR_SHARE_BUILD_DIR}/doc/qor-oneclick)
file(STRINGS ${QOR_PACKAGING_DIR}/changelog _changelog_head LIMIT_COUNT 1)
if(NOT _changelog_head MATCHES "^qor-oneclick \\(${PROJECT_VERSION}\\) ")
  message(WARNING "resources/packaging/changelog has no entry for version ${PROJECT_VERSION} at its top")
endif()
add_custom_command(OUTPUT ${_doc_dir}/changelog.gz
  COMMAND ${CMAKE_COMMAND} -E make_directory ${_doc_dir}
  COMMAND sh -c "${QOR_GZIP} -9nc '${QOR_PACKAGING_DIR}/changelog' > '${_doc_dir}/changelog.gz'"
  DEPENDS ${QOR_PACKAGING_DIR}/changelog
  VERBATIM)
add_custom_target(qor_changelog ALL DEPENDS ${_doc_dir}/changelog.gz)
install(FILES ${_doc_dir}/changelog.gz DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/qor-oneclick)
install(FILES ${QOR_PACKAGING_DIR}/copyright DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/qor-oneclick)
install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/qor-oneclick)
install(FILES ${CMAKE_SOURCE_DIR}/docs/qor-oneclick-cli.schema.json DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/qor-oneclick)
