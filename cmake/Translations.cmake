# Translations of the user-visible texts.
#
#   resources/translations/<language>.po        the core's string table, the terminal tool's messages
#                                               and the image search texts: GNU message catalogues,
#                                               compiled with msgfmt, read by platform/Translation.h
#                                               (the core stays free of Qt)
#   resources/translations/qor-oneclick_<language>.ts
#                                               the window's own texts: Qt Linguist, compiled with
#                                               lrelease, loaded with QTranslator
#
# Both are compiled into <build>/share, laid out as in an installation, so a program of the build
# tree finds them as <program folder>/../share just as an installed or unpacked one does.
#
# Targets for translators: qor_update_pot (writes qor-oneclick.pot from the sources and merges it
# into every .po) and qor_update_ts (runs lupdate over the window's sources into every .ts).

set(QOR_TRANSLATIONS_DIR ${CMAKE_SOURCE_DIR}/resources/translations)
set(QOR_SHARE_BUILD_DIR ${CMAKE_BINARY_DIR}/share)

# The sources whose Tr("...") and N_("...") texts form the message catalogue.
set(QOR_GETTEXT_SOURCE_DIRS platform image log net protocol upgrade resources cli tools)

find_program(QOR_MSGFMT msgfmt)
find_program(QOR_XGETTEXT xgettext)
find_program(QOR_MSGMERGE msgmerge)
set(_qt_bin_hints /usr/lib/qt6/bin)
if(QT6_INSTALL_PREFIX AND QT6_INSTALL_BINS)
  list(PREPEND _qt_bin_hints ${QT6_INSTALL_PREFIX}/${QT6_INSTALL_BINS})
endif()
if(QT6_INSTALL_PREFIX AND QT6_INSTALL_LIBEXECS)
  list(PREPEND _qt_bin_hints ${QT6_INSTALL_PREFIX}/${QT6_INSTALL_LIBEXECS})
endif()
find_program(QOR_LRELEASE NAMES lrelease lrelease-qt6 HINTS ${_qt_bin_hints})
find_program(QOR_LUPDATE NAMES lupdate lupdate-qt6 HINTS ${_qt_bin_hints})

set(_translation_outputs "")

file(GLOB _po_files CONFIGURE_DEPENDS ${QOR_TRANSLATIONS_DIR}/*.po)
if(_po_files AND NOT QOR_MSGFMT)
  message(WARNING "msgfmt (package gettext) not found: the programs' texts stay English")
endif()
set(QOR_LANGUAGES "")
foreach(_po ${_po_files})
  get_filename_component(_lang ${_po} NAME_WE)
  list(APPEND QOR_LANGUAGES ${_lang})
  if(QOR_MSGFMT)
    set(_dir ${QOR_SHARE_BUILD_DIR}/locale/${_lang}/LC_MESSAGES)
    set(_mo ${_dir}/qor-oneclick.mo)
    add_custom_command(OUTPUT ${_mo}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${_dir}
      COMMAND ${QOR_MSGFMT} --check -o ${_mo} ${_po}
      DEPENDS ${_po}
      COMMENT "Compiling the ${_lang} message catalogue"
      VERBATIM)
    list(APPEND _translation_outputs ${_mo})
    install(FILES ${_mo} DESTINATION ${CMAKE_INSTALL_LOCALEDIR}/${_lang}/LC_MESSAGES)
  endif()
endforeach()

file(GLOB _ts_files CONFIGURE_DEPENDS ${QOR_TRANSLATIONS_DIR}/qor-oneclick_*.ts)
if(TARGET qor_gui AND _ts_files AND NOT QOR_LRELEASE)
  message(WARNING "lrelease (package qt6-l10n-tools) not found: the window's own texts stay English")
endif()
if(TARGET qor_gui AND QOR_LRELEASE)
  set(_qm_dir ${QOR_SHARE_BUILD_DIR}/qor-oneclick/translations)
  foreach(_ts ${_ts_files})
    get_filename_component(_name ${_ts} NAME_WE)
    set(_qm ${_qm_dir}/${_name}.qm)
    add_custom_command(OUTPUT ${_qm}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${_qm_dir}
      COMMAND ${QOR_LRELEASE} -silent ${_ts} -qm ${_qm}
      DEPENDS ${_ts}
      COMMENT "Compiling the window's translation ${_name}"
      VERBATIM)
    list(APPEND _translation_outputs ${_qm})
    install(FILES ${_qm} DESTINATION ${CMAKE_INSTALL_DATADIR}/qor-oneclick/translations)
  endforeach()
endif()

add_custom_target(qor_translations ALL DEPENDS ${_translation_outputs})
foreach(_program qor-oneclick qor-oneclick-cli)
  if(TARGET ${_program})
    add_dependencies(${_program} qor_translations)
  endif()
endforeach()

# The extraction command, shared by the template target and the completeness test.
set(QOR_XGETTEXT_ARGS --language=C++ --from-code=UTF-8 --keyword= --keyword=Tr --keyword=N_
    --add-comments=TRANSLATORS: --add-location=file --sort-by-file --package-name=qor-oneclick
    --package-version=${PROJECT_VERSION} --msgid-bugs-address=qor-oneclick@tavrix.example
    --copyright-holder=)
set(QOR_GETTEXT_SOURCE_GLOBS "")
foreach(_d ${QOR_GETTEXT_SOURCE_DIRS})
  list(APPEND QOR_GETTEXT_SOURCE_GLOBS ${_d}/*.cpp ${_d}/*.h)
endforeach()

if(QOR_XGETTEXT AND QOR_MSGMERGE)
  list(JOIN QOR_XGETTEXT_ARGS " " _args)
  list(JOIN QOR_GETTEXT_SOURCE_GLOBS " " _globs)
  add_custom_target(qor_update_pot
    COMMAND sh -c "${QOR_XGETTEXT} ${_args} -o resources/translations/qor-oneclick.pot $(ls ${_globs} 2>/dev/null | LC_ALL=C sort)"
    COMMAND sh -c "for po in resources/translations/*.po; do ${QOR_MSGMERGE} --quiet --update --backup=none --no-fuzzy-matching \"$po\" resources/translations/qor-oneclick.pot; done"
    WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
    COMMENT "Extracting the texts into qor-oneclick.pot and merging them into the .po files"
    VERBATIM)
endif()
if(TARGET qor_gui AND QOR_LUPDATE)
  add_custom_target(qor_update_ts
    COMMAND ${QOR_LUPDATE} -silent -no-obsolete -locations none -I . app controls -ts ${_ts_files}
    WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
    COMMENT "Updating the window's translation sources"
    VERBATIM)
endif()
