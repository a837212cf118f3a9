# The Debian package that scripts/package-deb.sh builds with CPack: brassmoor_<version>_amd64.deb.
set(BRASSMOOR_DEB_MAINTAINER "Brassmoor developers <brassmoor@lists.brassmoor.example>"
    CACHE STRING "Maintainer field of the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME brassmoor)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Brassmoor developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "networked 3D walk on a shared ground plane")
set(CPACK_PACKAGE_DESCRIPTION
    "Brassmoor is a small networked 3D client. It opens a window, captures the
mouse for free look, and lets the player walk a ground grid with W, A, S and
D. About thirty times a second it tells a server where the player stands, in
one UDP datagram, and it draws every other player the server reports as an
upright box.

The package also holds brassmoor-server, a server to play against: alone with
simulated players, or with others on a LAN.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${BRASSMOOR_DEB_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION games)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Depends comes from the libraries the programs link, as dpkg-shlibdeps finds them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# Only the binary package: the sources are the repository.
set(CPACK_SOURCE_GENERATOR "")
include(CPack)
