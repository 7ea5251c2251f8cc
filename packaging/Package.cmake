# The Debian package: `cpack -G DEB` in a build directory (tools/dev package) makes
# kelvo_<version>_<arch>.deb. It installs under /usr and has no maintainer scripts: the
# MIME database is refreshed by shared-mime-info's dpkg trigger, and GNOME and tumbler
# watch the thumbnailer directories themselves.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kelvo)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_CONTACT "Kelvo developers <kelvo@example.org>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# Everything but the refresh of the MIME database, which dpkg's trigger does instead.
set(CPACK_COMPONENTS_ALL Unspecified)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The watermark's font is found by path under /usr/share/fonts (the thumbnail sandbox has no
# fontconfig configuration); the libraries are found by dpkg-shlibdeps.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "shared-mime-info, fonts-roboto-unhinted")
set(CPACK_PACKAGE_DESCRIPTION
    "Thumbnails and an interactive preview of 3D model files for GNOME Files, Thunar and every file manager that runs freedesktop thumbnailers.")
set(CPACK_STRIP_FILES ON)
include(CPack)
