# What a desktop needs beside the program (its menu entry, store metadata, file
# type and manual page), and the Debian package that the target "package" writes.
set(ZANDREL_APP_ID io.github.zandrel.Viewer)
# The date of this release, as the page and metainfo write it and as a Debian
# changelog must.
set(ZANDREL_RELEASE_DATE 2026-12-08)
set(ZANDREL_RELEASE_DATE_RFC2822 "Tue, 08 Dec 2026 12:00:00 +0000")
set(ZANDREL_PACKAGE_MAINTAINER "Zandrel Viewer developers <maintainers@zandrel.invalid>"
    CACHE STRING "Maintainer field of the Debian package")

set(packagingSource ${PROJECT_SOURCE_DIR}/packaging)
set(packagingBinary ${PROJECT_BINARY_DIR}/packaging)

# The project version and the release date are written into these texts from
# here, so the package, the page and the store metadata cannot disagree;
# manual_page_test holds the program's own version text to the same number.
configure_file(${packagingSource}/${ZANDREL_APP_ID}.metainfo.xml.in
               ${packagingBinary}/${ZANDREL_APP_ID}.metainfo.xml @ONLY)
configure_file(${packagingSource}/zandrel.1.in ${packagingBinary}/zandrel.1 @ONLY)
configure_file(${packagingSource}/changelog.in ${packagingBinary}/changelog @ONLY)

# Debian keeps manual pages and changelogs gzipped, without a time stamp in
# the gzip header so that two builds give the same bytes.
find_program(ZANDREL_GZIP gzip REQUIRED)
set(ZANDREL_GZIPPED "")
foreach(text zandrel.1 changelog)
  add_custom_command(
    OUTPUT ${packagingBinary}/${text}.gz
    COMMAND ${ZANDREL_GZIP} -9 -n -k -f ${text}
    WORKING_DIRECTORY ${packagingBinary}
    DEPENDS ${packagingBinary}/${text}
    COMMENT "Compressing packaging/${text}"
    VERBATIM)
  list(APPEND ZANDREL_GZIPPED ${packagingBinary}/${text}.gz)
endforeach()
add_custom_target(packaging_texts ALL DEPENDS ${ZANDREL_GZIPPED})

install(FILES ${packagingSource}/${ZANDREL_APP_ID}.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${packagingBinary}/${ZANDREL_APP_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${packagingSource}/zandrel.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages)
install(FILES ${packagingBinary}/zandrel.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${packagingSource}/copyright ${packagingBinary}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/zandrel)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zandrel)
set(CPACK_PACKAGE_VENDOR "Zandrel Imaging")
set(CPACK_PACKAGE_CONTACT "${ZANDREL_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt loads its window-system plugin at run time, where dpkg-shlibdeps cannot
# see it, and the libraries only recommend it: without it no window opens.
# The Liberation fonts stand in for the window's Arial and Courier New.
set(CPACK_DEBIAN_PACKAGE_DEPENDS qt6-qpa-plugins)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS fonts-liberation2)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "viewer for raw volume image files
Zandrel Viewer shows the data of a raw volume image file, such as the data
files of MRI scanners, exactly as it lies in the file. It knows no file
format: the user states the header bytes to skip, the voxels per row, the
rows per slice, the slices per volume, the voxel type and the byte order, and
the viewer paints the voxels one screen pixel per voxel, in four views, with
warning colours for missing data and values that cannot be shown.")
# Installed folders get the usual modes whatever the umask of the build.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
include(CPack)
