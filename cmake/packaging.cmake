# The Debian package: `cpack -G DEB` in the build folder makes
# pellicor_<version>_<arch>.deb with the program, its desktop entry, icons,
# AppStream data, manual page, copyright and changelog; dependencies are
# worked out from the binary (dpkg-shlibdeps, package dpkg-dev).
include(GNUInstallDirs)

# Debian wants both compressed without a time stamp.
find_program(GZIP_PROGRAM gzip REQUIRED)
set(PACKAGE_DOCS ${CMAKE_BINARY_DIR}/package-docs)
foreach(doc pellicor.1 changelog)
    add_custom_command(OUTPUT ${PACKAGE_DOCS}/${doc}.gz
        COMMAND ${CMAKE_COMMAND} -E make_directory ${PACKAGE_DOCS}
        COMMAND ${GZIP_PROGRAM} -9 -n -c ${PROJECT_SOURCE_DIR}/data/${doc} > ${PACKAGE_DOCS}/${doc}.gz
        DEPENDS ${PROJECT_SOURCE_DIR}/data/${doc}
        VERBATIM)
endforeach()
add_custom_target(package_docs ALL DEPENDS ${PACKAGE_DOCS}/pellicor.1.gz ${PACKAGE_DOCS}/changelog.gz)
install(FILES ${PACKAGE_DOCS}/pellicor.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${PROJECT_SOURCE_DIR}/data/copyright ${PACKAGE_DOCS}/changelog.gz
    DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/pellicor)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME pellicor)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})  # all four numbers
set(CPACK_PACKAGE_VENDOR Corvane)
set(CPACK_PACKAGE_CONTACT "Corvane <pellicor@corvane.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "convert Windows bitmap files to JPEG files in batches")
set(CPACK_PACKAGE_DESCRIPTION
    "Pellicor converts Windows bitmap files (.bmp) of every common variant into
JPEG files, from its window or from the command line. A JPEG appears only
once it is complete, and a bitmap is deleted (when asked) only after its JPEG
is safely on disk. The command line converts whole folder trees on all
processors and suits scripts and GNU parallel.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://corvane.example/freeware/")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The window also comes up on Wayland-only desktops; the libraries know nothing of that plugin.
# The About window's links open through xdg-open.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-wayland, xdg-utils")
include(CPack)
