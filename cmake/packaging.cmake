# The Debian packages: `cpack -G DEB` in the build folder makes two.
#   pellicor-cli_<version>_<arch>.deb  pellicor-convert, the command line alone
#       (Qt Core, no Qt GUI), for servers; its manual page and bash completion.
#   pellicor_<version>_<arch>.deb      the window, its desktop entry, icons,
#       AppStream data and manual page; it depends on pellicor-cli of the
#       same version.
# Each has the copyright and changelog; dependencies are worked out from the
# binaries (dpkg-shlibdeps, package dpkg-dev). The install rules name their
# component, cli or window.
include(GNUInstallDirs)

# Debian wants both compressed without a time stamp.
find_program(GZIP_PROGRAM gzip REQUIRED)
set(PACKAGE_DOCS ${CMAKE_BINARY_DIR}/package-docs)
foreach(doc pellicor.1 pellicor-convert.1 changelog)
    add_custom_command(OUTPUT ${PACKAGE_DOCS}/${doc}.gz
        COMMAND ${CMAKE_COMMAND} -E make_directory ${PACKAGE_DOCS}
        COMMAND ${GZIP_PROGRAM} -9 -n -c ${PROJECT_SOURCE_DIR}/data/${doc} > ${PACKAGE_DOCS}/${doc}.gz
        DEPENDS ${PROJECT_SOURCE_DIR}/data/${doc}
        VERBATIM)
endforeach()
add_custom_target(package_docs ALL DEPENDS
    ${PACKAGE_DOCS}/pellicor.1.gz ${PACKAGE_DOCS}/pellicor-convert.1.gz ${PACKAGE_DOCS}/changelog.gz)
install(FILES ${PACKAGE_DOCS}/pellicor-convert.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT cli)
install(FILES ${PACKAGE_DOCS}/pellicor.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT window)
foreach(component_package cli:pellicor-cli window:pellicor)
    string(REPLACE ":" ";" component_package ${component_package})
    list(GET component_package 0 component)
    list(GET component_package 1 package)
    install(FILES ${PROJECT_SOURCE_DIR}/data/copyright ${PACKAGE_DOCS}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package} COMPONENT ${component})
endforeach()

# Bash completion, loaded when a command is first completed: where the
# system's bash-completion looks (its pkg-config file says), else Debian's folder.
find_package(PkgConfig QUIET)
if(PKG_CONFIG_FOUND)
    pkg_get_variable(BASH_COMPLETION_DIR bash-completion completionsdir)
    pkg_get_variable(BASH_COMPLETION_PREFIX bash-completion prefix)
endif()
if(BASH_COMPLETION_DIR AND BASH_COMPLETION_PREFIX)
    file(RELATIVE_PATH BASH_COMPLETION_DIR ${BASH_COMPLETION_PREFIX} ${BASH_COMPLETION_DIR})
else()
    set(BASH_COMPLETION_DIR ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
endif()
install(FILES ${PROJECT_SOURCE_DIR}/data/pellicor.bash-completion
    DESTINATION ${BASH_COMPLETION_DIR} RENAME pellicor-convert COMPONENT cli)
install(FILES ${PROJECT_SOURCE_DIR}/data/pellicor.bash-completion
    DESTINATION ${BASH_COMPLETION_DIR} RENAME pellicor COMPONENT window)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME pellicor)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})  # all four numbers
set(CPACK_PACKAGE_VENDOR Corvane)
set(CPACK_PACKAGE_CONTACT "Corvane <pellicor@corvane.example>")
# Each package's summary is the first line of its description.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "")
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL cli window)
set(CPACK_DEBIAN_CLI_PACKAGE_NAME pellicor-cli)
set(CPACK_DEBIAN_WINDOW_PACKAGE_NAME pellicor)
set(CPACK_DEBIAN_PACKAGE_SOURCE pellicor)
set(CPACK_COMPONENT_WINDOW_DEPENDS cli)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)  # pellicor-cli (= this version)
set(PACKAGE_ABOUT
    "Pellicor converts Windows bitmap files (.bmp) of every common variant into
JPEG files. A JPEG appears only once it is complete, and a bitmap is deleted
(when asked) only after its JPEG is safely on disk.")
set(CPACK_DEBIAN_CLI_DESCRIPTION
    "convert Windows bitmap files to JPEG files in batches (command line)
${PACKAGE_ABOUT}

This package holds the command line, pellicor-convert, which needs no
display and none of the window's libraries: it converts whole folder trees
on all processors and suits scripts, servers and GNU parallel.")
set(CPACK_DEBIAN_WINDOW_DESCRIPTION
    "convert Windows bitmap files to JPEG files in batches
${PACKAGE_ABOUT}

This package holds the window, with its menu entry for the desktop and the
file manager; the command line comes with pellicor-cli.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://corvane.example/freeware/")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The window also comes up on Wayland-only desktops; the libraries know nothing of that plugin.
# The About window's links open through xdg-open.
set(CPACK_DEBIAN_WINDOW_PACKAGE_RECOMMENDS "qt6-wayland, xdg-utils")
set(CPACK_DEBIAN_CLI_PACKAGE_SUGGESTS parallel)
include(CPack)
