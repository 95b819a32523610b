# Installation, the Debian package, and the checks of what gets installed.

# dawnstep reads its plugins and files at fixed paths under /usr and /, so
# it is installed there unless a prefix is asked for.
if(CMAKE_INSTALL_PREFIX_INITIALIZED_TO_DEFAULT)
  set(CMAKE_INSTALL_PREFIX /usr CACHE PATH "Installation prefix" FORCE)
endif()
include(GNUInstallDirs)

install(TARGETS dawnstep RUNTIME DESTINATION ${CMAKE_INSTALL_SBINDIR})
install(TARGETS dawnstep-analyze RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES man/dawnstep.8 man/dawnstep-analyze.8 DESTINATION ${CMAKE_INSTALL_MANDIR}/man8)
install(FILES docs/plugin-guide.md DESTINATION ${CMAKE_INSTALL_DOCDIR})

# For plugin authors: the public C header and a pkg-config module (header
# only, so architecture-independent).
install(DIRECTORY include/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
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
")

# bash-completion loads a command's completion from a file of its name.
set(DAWNSTEP_COMPLETIONS ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
install(FILES completion/dawnstep DESTINATION ${DAWNSTEP_COMPLETIONS})
install(FILES completion/dawnstep DESTINATION ${DAWNSTEP_COMPLETIONS} RENAME dawnstep-analyze)

# The plugin directories, empty, for packages of plugins to fill.
install(DIRECTORY DESTINATION ${CMAKE_INSTALL_LIBEXECDIR}/dawnstep/plugins)
install(DIRECTORY DESTINATION ${CMAKE_INSTALL_LIBEXECDIR}/dawnstep/plugins2)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME dawnstep)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "boot-time plugin activation runner of the hypervisor host")
set(CPACK_PACKAGE_DESCRIPTION
    "dawnstep activates the host's configuration plugins at boot in the order of the tags \
they provide and require. dawnstep-analyze reports on the boot's timing and checks plugin files.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "dawnstep developers <dawnstep@localhost>")
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libstdc++6, libgcc-s1")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
include(CPack)

add_test(NAME man_pages_lint
         COMMAND mandoc -T lint -W all man/dawnstep.8 man/dawnstep-analyze.8
         WORKING_DIRECTORY ${CMAKE_SOURCE_DIR})
add_test(NAME bash_completion
         COMMAND bash ${CMAKE_SOURCE_DIR}/tests/completion_test.sh
                 ${CMAKE_SOURCE_DIR}/completion/dawnstep $<TARGET_FILE:dawnstep>)
add_test(NAME man_pages_match_programs
         COMMAND bash ${CMAKE_SOURCE_DIR}/tests/man_page_test.sh $<TARGET_FILE:dawnstep>
                 $<TARGET_FILE:dawnstep-analyze> ${CMAKE_SOURCE_DIR})
add_test(NAME debian_package
         COMMAND bash ${CMAKE_SOURCE_DIR}/tests/package_test.sh ${CMAKE_BINARY_DIR}
                 ${CMAKE_SOURCE_DIR})
set_tests_properties(debian_package PROPERTIES TIMEOUT 120)
