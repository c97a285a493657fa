# cmake --install: the two programs, the sample pictures the build made and
# (desktop/) what the desktop needs.
install(TARGETS tesserix-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET tesserix)
  install(TARGETS tesserix RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
install(DIRECTORY ${CMAKE_BINARY_DIR}/images/ DESTINATION ${TESSERIX_SAMPLE_DATADIR})
install(FILES ${CMAKE_BINARY_DIR}/sample-source.jpg DESTINATION ${CMAKE_INSTALL_DATADIR}/tesserix)

# The Debian package: cpack -G DEB in the build folder makes
# tesserix_<version>-<release>_<arch>.deb, with the libraries it needs found by
# dpkg-shlibdeps from the installed programs.
set(TESSERIX_DEB_RELEASE 1)
set(TESSERIX_MAINTAINER "The Tesserix developers <maintainers@tesserix.org>")
execute_process(COMMAND date -u -R -d "${TESSERIX_RELEASE_DATE} 12:00"
  OUTPUT_VARIABLE TESSERIX_RELEASE_DATE_RFC OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
set(doc_dir ${CMAKE_INSTALL_DATADIR}/doc/tesserix)
install(FILES ${PROJECT_SOURCE_DIR}/desktop/copyright DESTINATION ${doc_dir})
configure_file(${PROJECT_SOURCE_DIR}/desktop/changelog.Debian.in ${CMAKE_BINARY_DIR}/debian/changelog.Debian @ONLY)
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/debian/changelog.Debian.gz
  COMMAND gzip -9nf -k ${CMAKE_BINARY_DIR}/debian/changelog.Debian
  DEPENDS ${CMAKE_BINARY_DIR}/debian/changelog.Debian
  VERBATIM)
add_custom_target(tesserix_changelog ALL DEPENDS ${CMAKE_BINARY_DIR}/debian/changelog.Debian.gz)
install(FILES ${CMAKE_BINARY_DIR}/debian/changelog.Debian.gz DESTINATION ${doc_dir})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tesserix)
set(CPACK_PACKAGE_VENDOR "The Tesserix developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${TESSERIX_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "photomosaic builder for the desktop and the command line")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${TESSERIX_DEB_RELEASE})
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${TESSERIX_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://tesserix.org/)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# the summary above is the first line; this is what follows it
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Tesserix divides a source picture into a grid of cells and fills every cell
with the picture of a folder whose colour comes closest to it, scaled and
shifted towards the cell's colour. A wizard leads through the source, the
grid, the pictures and the options; the mosaic can be saved as a bitmap,
printed and kept as a project. The batch tool tesserix-cli makes the same
mosaics without a window.")
include(CPack)
