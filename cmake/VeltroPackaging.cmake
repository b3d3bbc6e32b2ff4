# Debian packages of one Qt build, made by `cpack` in the build tree from the
# install components (scripts/package does the whole round):
#   runtime      -> libveltroclient-qt6-1 / libveltroclient1   the shared library
#   development  -> libveltroclient-qt6-dev / libveltroclient-dev
#                   headers, CMake package, pkg-config file
#   qml          -> joins the development package (the Qt 6 build's QML module)
#   doc          -> libveltroclient-qt6-doc / libveltroclient-doc
#                   API pages, the host examples
#   programs     -> veltroclient-programs-qt6 / veltroclient-programs
#                   the programs and their manual pages
# Both builds' packages install side by side: every path differs by build.
# Included at the end of the top-level CMakeLists.txt, after every install rule.
include_guard(GLOBAL)

# Each package carries its copyright and changelog. They are left out of a
# plain `cmake --install` (EXCLUDE_FROM_ALL): only the packages need them.
configure_file(${CMAKE_CURRENT_LIST_DIR}/debian/changelog.in ${PROJECT_BINARY_DIR}/debian/changelog @ONLY)
execute_process(COMMAND gzip -9nc INPUT_FILE ${PROJECT_BINARY_DIR}/debian/changelog
                OUTPUT_FILE ${PROJECT_BINARY_DIR}/debian/changelog.gz COMMAND_ERROR_IS_FATAL ANY)
set(components runtime development doc programs)
set(packages ${VELTRO_DEB_RUNTIME} ${VELTRO_DEB_DEVELOPMENT} ${VELTRO_DEB_DOC} ${VELTRO_DEB_PROGRAMS})
foreach(component package IN ZIP_LISTS components packages)
  install(FILES ${CMAKE_CURRENT_LIST_DIR}/debian/copyright ${PROJECT_BINARY_DIR}/debian/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package} COMPONENT ${component} EXCLUDE_FROM_ALL)
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME veltroclient${VELTRO_PROGRAM_SUFFIX})
set(CPACK_PACKAGE_VENDOR "The veltroclient developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# Installed binaries carry no debug sections; the build tree keeps them.
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ONE_PER_GROUP)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${VELTRO_DEB_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SOURCE veltroclient)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# CPack puts a summary it did not make up itself in front of every package's
# description; left at its own default, each description's first line is
# that package's synopsis.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${CMAKE_PROJECT_NAME} built using CMake")
# Dependencies on the distribution's Qt, liblzma and the C++ runtime come from
# dpkg-shlibdeps, which also has to find our own library for the programs.
# (Every package that may hold a binary is looked at, one `file` run per file,
# so the documentation, with none, is left out.)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_DOC_PACKAGE_SHLIBDEPS OFF)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR}/src)

set(exact "${VELTRO_DEB_RUNTIME} (= ${PROJECT_VERSION})")
set(about "veltroclient lets a teacher's presenter application sign in to a Veltro
classroom service, run sessions and keep a live event-bus connection to the
learners' devices over WebSocket, XHR streaming or XHR polling.")

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME ${VELTRO_DEB_RUNTIME})
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
# The shlibs file lets packages built against the library depend on it; the
# linker cache is refreshed by dpkg's ldconfig trigger. (CPack's own shlibs
# option would make it run `file` over the documentation as well.) The
# ldconfig scripts CPack adds to a library package have no switch; they are
# taken out once the packages are made.
configure_file(${CMAKE_CURRENT_LIST_DIR}/debian/shlibs.in ${PROJECT_BINARY_DIR}/debian/shlibs @ONLY)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA
    ${PROJECT_BINARY_DIR}/debian/shlibs ${CMAKE_CURRENT_LIST_DIR}/debian/triggers)
set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/debian/drop-ldconfig-scripts.cmake)
set(CPACK_DEBIAN_RUNTIME_DESCRIPTION "Veltro live classroom client library (Qt ${VELTRO_QT_MAJOR} build)
${about}

This package holds the shared library built with Qt ${VELTRO_QT_MAJOR}.")

# The development files name the Qt development packages their CMake package
# and pkg-config file look for; no binary says so, so they are listed here.
if(VELTRO_QT_MAJOR STREQUAL "5")
  set(qtdev "qtbase5-dev, libqt5websockets5-dev")
else()
  set(qtdev "qt6-base-dev, qt6-websockets-dev")
endif()
set(CPACK_DEBIAN_DEV_PACKAGE_NAME ${VELTRO_DEB_DEVELOPMENT})
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "${exact}, ${qtdev}")
set(CPACK_DEBIAN_DEV_PACKAGE_SUGGESTS ${VELTRO_DEB_DOC})
set(CPACK_DEBIAN_DEV_DESCRIPTION "Veltro live classroom client library, development files (Qt ${VELTRO_QT_MAJOR})
${about}

This package holds the headers, the CMake package ${VELTRO_PACKAGE} and the
pkg-config file ${VELTRO_LIB_NAME}, for building against the Qt ${VELTRO_QT_MAJOR} build.")

set(CPACK_DEBIAN_DOC_PACKAGE_NAME ${VELTRO_DEB_DOC})
set(CPACK_DEBIAN_DOC_PACKAGE_SECTION doc)
set(CPACK_DEBIAN_DOC_PACKAGE_ARCHITECTURE all)
set(CPACK_DEBIAN_DOC_DESCRIPTION "Veltro live classroom client library, API reference (Qt ${VELTRO_QT_MAJOR} build)
${about}

This package holds the API reference pages, with an overview, and the host
examples they show, in /usr/share/doc/${VELTRO_DEB_DOC}.")

set(CPACK_DEBIAN_PROGRAMS_PACKAGE_NAME ${VELTRO_DEB_PROGRAMS})
set(CPACK_DEBIAN_PROGRAMS_PACKAGE_SECTION education)
# QtKeychain (found by dpkg-shlibdeps) loads libsecret at run time to reach
# the Secret Service that keeps a sign-in; gnome-keyring is one such service.
set(CPACK_DEBIAN_PROGRAMS_PACKAGE_DEPENDS "${exact}, libsecret-1-0")
set(CPACK_DEBIAN_PROGRAMS_PACKAGE_RECOMMENDS gnome-keyring)
set(programs "veltro-present${VELTRO_PROGRAM_SUFFIX}, which runs a live classroom from
the command line, and veltro-classroom${VELTRO_PROGRAM_SUFFIX}, the reference presenter window")
if(TARGET veltro-classroom-qml)
  # The QML window loads the Veltro module (in the development package) and
  # the distribution's Qt Quick modules at run time, which no binary names.
  string(APPEND CPACK_DEBIAN_PROGRAMS_PACKAGE_DEPENDS ", ${VELTRO_DEB_DEVELOPMENT} (= ${PROJECT_VERSION}), "
         "qml6-module-qtquick, qml6-module-qtquick-controls, qml6-module-qtquick-layouts, qml6-module-qtquick-window")
  set(programs "veltro-present${VELTRO_PROGRAM_SUFFIX}, which runs a live classroom from
the command line, and the reference presenter windows veltro-classroom${VELTRO_PROGRAM_SUFFIX}
(Qt Widgets) and veltro-classroom-qml${VELTRO_PROGRAM_SUFFIX} (QML)")
endif()
set(CPACK_DEBIAN_PROGRAMS_DESCRIPTION "Veltro live classroom presenter programs (Qt ${VELTRO_QT_MAJOR} build)
${about}

This package holds ${programs}.")

include(CPack)
cpack_add_component_group(dev)
cpack_add_component(runtime)
cpack_add_component(development GROUP dev)
cpack_add_component(qml GROUP dev)
cpack_add_component(doc)
cpack_add_component(programs)

# A file installed without a component would be in no package.
get_cmake_property(unpackaged COMPONENTS)
list(REMOVE_ITEM unpackaged runtime development qml doc programs)
if(unpackaged)
  message(WARNING "veltroclient: install components ${unpackaged} are in no Debian package")
endif()
