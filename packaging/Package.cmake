# The Debian packages: `cpack -G DEB` in a build directory (tools/dev package) makes
#   kelvo_<version>_<arch>.deb      the programs, the thumbnailer entry, the MIME types, the
#                                   previewer's desktop entry, icon and AppStream metadata
#   kelvo-kde_<version>_<arch>.deb  the KDE thumbnail plugin, when it was built; on its
#                                   own so that GNOME users do not pull in KDE
# Both install under /usr and have no maintainer scripts: the MIME and desktop databases
# and the icon cache are refreshed by the dpkg triggers of shared-mime-info,
# desktop-file-utils and hicolor-icon-theme, and GNOME, tumbler and KDE look for
# thumbnailers afresh themselves. Install rules without a component belong to kelvo.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kelvo)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Kelvo developers <kelvo@example.org>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEB_COMPONENT_INSTALL ON)
# Not the refresh of the MIME database (component system-integration), which dpkg's
# trigger does instead.
set(CPACK_COMPONENTS_ALL Unspecified)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
# Each package's description names its own synopsis (its first line); a global summary
# would be put in front of both.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "")

set(CPACK_DEBIAN_UNSPECIFIED_PACKAGE_NAME kelvo)
# The watermark's font is found by path under /usr/share/fonts (the thumbnail sandbox has no
# fontconfig configuration); the libraries are found by dpkg-shlibdeps.
set(CPACK_DEBIAN_UNSPECIFIED_PACKAGE_DEPENDS "shared-mime-info, fonts-roboto-unhinted")
if(TARGET _kelvo)
  # The Python module is built for one Python version, the system's.
  math(EXPR next_python_minor "${Python3_VERSION_MINOR} + 1")
  string(APPEND CPACK_DEBIAN_UNSPECIFIED_PACKAGE_DEPENDS
         ", python3 (>= ${Python3_VERSION_MAJOR}.${Python3_VERSION_MINOR})"
         ", python3 (<< ${Python3_VERSION_MAJOR}.${next_python_minor})")
endif()
# The Python package's render() hands back numpy arrays; kelvo.dask needs Dask's scheduler.
set(CPACK_DEBIAN_UNSPECIFIED_PACKAGE_RECOMMENDS "python3-numpy")
set(CPACK_DEBIAN_UNSPECIFIED_PACKAGE_SUGGESTS "python3-distributed")
# Lines of at most 79 characters, paragraphs separated by empty lines.
set(CPACK_DEBIAN_UNSPECIFIED_DESCRIPTION [=[thumbnails and previews of 3D model files
Kelvo shows 3D model files in the file manager without opening an editor.
kelvo-thumbnailer renders a still image of a model for its icon in GNOME
Files, Thunar and every file manager that runs freedesktop thumbnailers, on
the CPU, inside GNOME's thumbnail sandbox and within limits of time and
memory of its own. kelvo-preview shows a model in a window to orbit, pan and
zoom, offered under Open With. kelvo-inspect prints the scene a file loads
to as JSON, or renders it as the thumbnailer does. kelvo-cache fills the
thumbnail cache for whole folder trees on every core.

It reads the common formats of 3D printing, voxel art and glTF scenes; the
manual page kelvo-thumbnailer(1) lists them. Dolphin users also install
kelvo-kde.]=])

if(TARGET kelvothumbnail)
  list(APPEND CPACK_COMPONENTS_ALL kde)
  set(CPACK_DEBIAN_KDE_PACKAGE_NAME kelvo-kde)
  # The thumbnails are kelvo-thumbnailer's, so the same version of kelvo is needed; the
  # plugin is loaded by KIO's thumbnail worker (kio-extras, which Dolphin depends on).
  set(CPACK_DEBIAN_KDE_PACKAGE_DEPENDS "kelvo (= ${PROJECT_VERSION}), kio")
  set(CPACK_DEBIAN_KDE_PACKAGE_RECOMMENDS "kio-extras")
  set(CPACK_DEBIAN_KDE_PACKAGE_ENHANCES "dolphin")
  set(CPACK_DEBIAN_KDE_DESCRIPTION [=[3D model thumbnails for Dolphin and other KDE applications
A thumbnail plugin for KDE Frameworks 5 that shows 3D model files with a
picture of the model in Dolphin, the KDE file dialogs and Gwenview. The
pictures are made by kelvo-thumbnailer, in a process of its own with limits
of time and memory, so a damaged or hostile file cannot take KDE's thumbnail
service down.

Dolphin offers it as '3D models (Kelvo)' under Configure Dolphin, General,
Previews; it is on unless the preview settings were saved before.]=])
endif()
include(CPack)
