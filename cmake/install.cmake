# SPDX-License-Identifier: GPL-3.0-or-later
# What an installation does beyond copying files: the PDF printer for every user, and an
# "uninstall" target that takes away what "install" made.

# "cmake --install" on the machine itself (not into a DESTDIR staging folder, as a package build
# does: the package's maintainer scripts do it there) installs the printer for every user, in the
# folder the installed programs find from bin/ (so also under a prefix given at install time).
file(RELATIVE_PATH config_from_bin ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_SYSCONFDIR}/pictolio)
install(CODE "
  if(\"\$ENV{DESTDIR}\" STREQUAL \"\")
    get_filename_component(config
        \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/${config_from_bin}\" ABSOLUTE)
    file(MAKE_DIRECTORY \"\${config}\")
    execute_process(COMMAND \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/pictolio-printer\"
                            install --system --system-root \"\${config}\" COMMAND_ERROR_IS_FATAL ANY)
  endif()")

configure_file(${CMAKE_CURRENT_LIST_DIR}/uninstall.cmake.in ${CMAKE_BINARY_DIR}/uninstall.cmake @ONLY)
add_custom_target(uninstall COMMAND ${CMAKE_COMMAND} -P ${CMAKE_BINARY_DIR}/uninstall.cmake
                  COMMENT "Removing what the last install made")
