# Installation and the two Debian packages: `dawnstep` (the programs and
# what operators use) and `dawnstep-plugin-dev` (what plugin authors build
# against).

# dawnstep reads its plugins and files at fixed paths under /usr and /, so
# it is installed there unless a prefix is asked for.
if(CMAKE_INSTALL_PREFIX_INITIALIZED_TO_DEFAULT)
  set(CMAKE_INSTALL_PREFIX /usr CACHE PATH "Installation prefix" FORCE)
endif()
include(GNUInstallDirs)
set(DAWNSTEP_DOC ${CMAKE_INSTALL_DATADIR}/doc/dawnstep)
set(DAWNSTEP_DEV_DOC ${CMAKE_INSTALL_DATADIR}/doc/dawnstep-plugin-dev)

# Man pages and the changelog go out compressed, as Debian wants them;
# -n keeps the archives the same from build to build.
set(DAWNSTEP_GZIPPED)
foreach(source man/dawnstep.8 man/dawnstep-analyze.8 packaging/changelog)
  get_filename_component(name ${source} NAME)
  set(gzipped ${CMAKE_BINARY_DIR}/gz/${name}.gz)
  add_custom_command(OUTPUT ${gzipped}
    COMMAND gzip -9nc ${CMAKE_SOURCE_DIR}/${source} > ${gzipped}
    DEPENDS ${CMAKE_SOURCE_DIR}/${source} VERBATIM)
  list(APPEND DAWNSTEP_GZIPPED ${gzipped})
endforeach()
add_custom_target(gzipped_docs ALL DEPENDS ${DAWNSTEP_GZIPPED})

install(TARGETS dawnstep RUNTIME DESTINATION ${CMAKE_INSTALL_SBINDIR} COMPONENT programs)
install(TARGETS dawnstep-analyze RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT programs)
install(FILES ${CMAKE_BINARY_DIR}/gz/dawnstep.8.gz ${CMAKE_BINARY_DIR}/gz/dawnstep-analyze.8.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man8 COMPONENT programs)
# bash-completion loads a command's completion from a file of its name.
set(DAWNSTEP_COMPLETIONS ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
install(FILES completion/dawnstep DESTINATION ${DAWNSTEP_COMPLETIONS} COMPONENT programs)
install(FILES completion/dawnstep DESTINATION ${DAWNSTEP_COMPLETIONS} RENAME dawnstep-analyze
        COMPONENT programs)
# The plugin directories, empty, for packages of plugins to fill.
install(DIRECTORY DESTINATION ${CMAKE_INSTALL_LIBEXECDIR}/dawnstep/plugins COMPONENT programs)
install(DIRECTORY DESTINATION ${CMAKE_INSTALL_LIBEXECDIR}/dawnstep/plugins2 COMPONENT programs)
install(FILES packaging/lintian-overrides DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides
        RENAME dawnstep COMPONENT programs)
install(FILES docs/plugin-guide.md docs/commands.md docs/fleet.md DESTINATION ${DAWNSTEP_DOC}
        COMPONENT programs)

# For plugin authors: the public C header, a pkg-config module (header
# only, so architecture-independent), the native plugin guide and its
# example.
install(DIRECTORY include/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT dev
        FILES_MATCHING PATTERN "*.h")
# The module names the prefix of the installation, which may be chosen as
# late as `cmake --install --prefix`, so it is written at install time.
install(CODE "
  set(PROJECT_VERSION ${PROJECT_VERSION})
  set(CMAKE_INSTALL_INCLUDEDIR ${CMAKE_INSTALL_INCLUDEDIR})
  configure_file(${CMAKE_SOURCE_DIR}/packaging/dawnstep-plugin.pc.in
                 ${CMAKE_BINARY_DIR}/dawnstep-plugin.pc @ONLY)
  file(INSTALL ${CMAKE_BINARY_DIR}/dawnstep-plugin.pc
       DESTINATION \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DATADIR}/pkgconfig\")
" COMPONENT dev)
install(FILES docs/native-plugins.md DESTINATION ${DAWNSTEP_DEV_DOC} COMPONENT dev)
install(FILES examples/native/hello.c DESTINATION ${DAWNSTEP_DEV_DOC}/examples COMPONENT dev)

foreach(component_doc programs:${DAWNSTEP_DOC} dev:${DAWNSTEP_DEV_DOC})
  string(REPLACE ":" ";" component_doc ${component_doc})
  list(GET component_doc 0 component)
  list(GET component_doc 1 doc)
  install(FILES packaging/copyright ${CMAKE_BINARY_DIR}/gz/changelog.gz
          DESTINATION ${doc} COMPONENT ${component})
endforeach()

set(DAWNSTEP_MAINTAINER "dawnstep developers <dawnstep@example.org>"
    CACHE STRING "Maintainer of the Debian packages, as in their changelog")
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME dawnstep)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL programs dev)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${DAWNSTEP_MAINTAINER})
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)

set(CPACK_DEBIAN_PROGRAMS_PACKAGE_NAME dawnstep)
set(CPACK_DEBIAN_PROGRAMS_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PROGRAMS_PACKAGE_SHLIBDEPS ON)
# `dawnstep-analyze metrics` writes for node_exporter's textfile collector.
set(CPACK_DEBIAN_PROGRAMS_PACKAGE_SUGGESTS prometheus-node-exporter)
set(CPACK_COMPONENT_PROGRAMS_DESCRIPTION "boot-time plugin activation runner of a hypervisor host
dawnstep activates the host's configuration plugins at boot, in the order
of the tags they provide and require, serially or in parallel worker
processes. dawnstep-analyze reports on the boot's timing, publishes it
to Prometheus through node_exporter, compares boots and checks plugin
files.")

set(CPACK_DEBIAN_DEV_PACKAGE_NAME dawnstep-plugin-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_PACKAGE_ARCHITECTURE all)
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "dawnstep (= ${PROJECT_VERSION})")
set(CPACK_COMPONENT_DEV_DESCRIPTION "files to build native plugins for dawnstep
The C header declaring the native plugin contract of dawnstep, the
dawnstep-plugin pkg-config module, the guide to writing native plugins
and an example plugin.")
include(CPack)
