# The Debian package: `cpack -G DEB` in the build folder (scripts/package
# does it) writes velmora_<version>_amd64.deb from what `cmake --install`
# installs. Included from the top-level CMakeLists.txt, after every target.
set(CPACK_PACKAGE_NAME velmora)
set(CPACK_PACKAGE_VENDOR "The Velmora developers")
set(CPACK_PACKAGE_CONTACT "The Velmora developers <velmora@velmora.invalid>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "DVD player for the desktop")
# CPack puts the summary first and indents the lines; an empty line becomes
# the paragraph mark.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Velmora plays a DVD from the drive, from a folder holding a copied disc
(VIDEO_TS with its .IFO and .VOB files) or from an ISO image, with the
disc's own menus, subtitles and audio tracks. A small skinned control panel
drives the video window; global keyboard shortcuts work while another
program has the focus.

Encrypted discs need libdvdcss, which the libdvd-pkg package builds.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "The Velmora developers <velmora@velmora.invalid>")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SUGGESTS libdvd-pkg)
# libavfilter is loaded with dlopen() (for deinterlacing), so no link shows it.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libavfilter${AVFILTER_MAJOR}")
# What no library link shows dpkg-shlibdeps: ALSA's route to the sound server
# and a font for the Chinese captions.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libasound2-plugins, fonts-wqy-microhei")
include(CPack)
