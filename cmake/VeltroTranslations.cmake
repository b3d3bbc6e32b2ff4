# Translations with Qt's own lrelease and lupdate, run by custom commands: Qt's
# LinguistTools CMake package comes only with the much larger tools development
# packages, the programs with the small l10n tools ones. The .qm files are
# embedded as resources, so a program or host finds them wherever it is
# installed and no file can go missing.
#
# veltro_add_translations(<target> CATALOGUE <name> SOURCES <files or folders>...)
#   compiles translations/<name>_*.ts into <name>_*.qm, embeds them in <target>
#   under :/veltro/translations/ (Q_INIT_RESOURCE(<name with _ for ->) loads
#   them from a static library), and lets the update-translations target run
#   lupdate over SOURCES into those .ts files.

# lrelease and lupdate of the Qt in use: beside its rcc, or in its bin folder.
get_target_property(_veltro_rcc ${QT}::rcc LOCATION)
get_filename_component(_veltro_qt_tools "${_veltro_rcc}" DIRECTORY)
find_program(VELTRO_LRELEASE NAMES lrelease HINTS "${_veltro_qt_tools}" "${_veltro_qt_tools}/../bin"
             PATHS /usr/lib/qt${VELTRO_QT_MAJOR}/bin NO_DEFAULT_PATH)
find_program(VELTRO_LUPDATE NAMES lupdate HINTS "${_veltro_qt_tools}" "${_veltro_qt_tools}/../bin"
             PATHS /usr/lib/qt${VELTRO_QT_MAJOR}/bin NO_DEFAULT_PATH)
if(NOT VELTRO_LRELEASE)
  message(FATAL_ERROR "lrelease of Qt ${VELTRO_QT_MAJOR} not found (Debian: qt6-l10n-tools or qttools5-dev-tools)")
endif()
if(NOT TARGET update-translations)
  add_custom_target(update-translations COMMENT "lupdate: the .ts files from the sources")
endif()

function(veltro_add_translations target)
  cmake_parse_arguments(T "" "CATALOGUE" "SOURCES" ${ARGN})
  file(GLOB ts_files ${PROJECT_SOURCE_DIR}/translations/${T_CATALOGUE}_*.ts)
  set(dir ${CMAKE_CURRENT_BINARY_DIR}/translations)
  set(qrc ${dir}/${T_CATALOGUE}.qrc)
  set(entries "")
  set(qm_files "")
  foreach(ts IN LISTS ts_files)
    get_filename_component(base ${ts} NAME_WE)
    set(qm ${dir}/${base}.qm)
    add_custom_command(OUTPUT ${qm} COMMAND ${VELTRO_LRELEASE} -silent ${ts} -qm ${qm}
                       DEPENDS ${ts} COMMENT "lrelease ${base}" VERBATIM)
    list(APPEND qm_files ${qm})
    string(APPEND entries "<file>${base}.qm</file>")
  endforeach()
  file(GENERATE OUTPUT ${qrc}
       CONTENT "<RCC><qresource prefix=\"/veltro/translations\">${entries}</qresource></RCC>\n")
  string(REPLACE "-" "_" name ${T_CATALOGUE})
  set(cpp ${dir}/qrc_${name}.cpp)
  add_custom_command(OUTPUT ${cpp} COMMAND ${QT}::rcc --name ${name} -o ${cpp} ${qrc}
                     DEPENDS ${qm_files} ${qrc} COMMENT "Embedding the ${T_CATALOGUE} translations" VERBATIM)
  set_source_files_properties(${cpp} PROPERTIES SKIP_AUTOGEN ON)
  target_sources(${target} PRIVATE ${cpp})

  if(VELTRO_LUPDATE)
    add_custom_target(update-translations-${T_CATALOGUE}
      COMMAND ${VELTRO_LUPDATE} -silent -locations none -no-obsolete ${T_SOURCES} -ts ${ts_files}
      WORKING_DIRECTORY ${PROJECT_SOURCE_DIR} VERBATIM)
    add_dependencies(update-translations update-translations-${T_CATALOGUE})
  endif()
endfunction()
