# The two Debian packages that scripts/package-deb.sh builds with CPack from one build: the install
# component `client` makes brassmoor (for players), `server` makes brassmoor-server (for hosts).
set(BRASSMOOR_DEB_MAINTAINER "Brassmoor developers <brassmoor@lists.brassmoor.example>"
    CACHE STRING "Maintainer field of the Debian packages")

# Every install rule must name one of the two components; one that does not would be in neither
# package (or in a third, "Unspecified"), so the configuration stops here instead.
set(BRASSMOOR_DEB_COMPONENTS client server)
get_cmake_property(install_components COMPONENTS)
list(REMOVE_ITEM install_components ${BRASSMOOR_DEB_COMPONENTS})
if(install_components)
  message(FATAL_ERROR "install() rules with COMPONENT ${install_components}: each belongs in a package, "
                      "COMPONENT client (brassmoor) or server (brassmoor-server)")
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME brassmoor)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Brassmoor developers")
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL ${BRASSMOOR_DEB_COMPONENTS})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${BRASSMOOR_DEB_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SOURCE brassmoor)
set(CPACK_DEBIAN_PACKAGE_SECTION games)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Depends comes from the libraries each package's programs link, as dpkg-shlibdeps finds them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# Only the binary packages: the sources are the repository.
set(CPACK_SOURCE_GENERATOR "")

# The first line of each description is its summary.
set(CPACK_DEBIAN_CLIENT_PACKAGE_NAME brassmoor)
set(CPACK_DEBIAN_CLIENT_DESCRIPTION
    "networked 3D walk on a shared ground plane
Brassmoor is a small networked 3D game. It opens a window, captures the
mouse for free look, and lets the player walk a ground grid with W, A, S and
D. About thirty times a second it tells a server where the player stands, in
one UDP datagram, and it draws every other player the server reports as an
upright box.

brassmoor-play, in the desktop's menu, opens a window that lists the games
it finds on this computer, on the local network, at addresses joined before
and on the Internet (read from list servers, which a community or a
distribution names once in /etc/brassmoor/list-servers), with where each was
found and its name, players, ping and version, each asked by the launcher
itself. From there the player joins one, types an address or a computer's
name, starts a practice game against simulated players, or hosts a game for
others on the local network, listed on the Internet too if the player asks:
it then asks the home router (UPnP IGD or NAT-PMP) to forward the game's port
and announces the game to a list server, and says plainly when the game
cannot be reached; failures are shown in the window and kept in a log. The
server it runs for these is built into it: this package alone is enough to
play.")
# A host that wants a server without a player at the keyboard installs brassmoor-server.
set(CPACK_DEBIAN_CLIENT_PACKAGE_SUGGESTS brassmoor-server)
# The launcher's window draws its text in DejaVu Sans when it is there (Dear ImGui's small built-in
# font otherwise); zenity tells on the desktop when no window can be opened.
set(CPACK_DEBIAN_CLIENT_PACKAGE_RECOMMENDS "fonts-dejavu-core, zenity | kdialog")

# CPack marks nothing as a conffile by itself.
set(brassmoor_client_control ${CMAKE_BINARY_DIR}/deb-control/client)
file(MAKE_DIRECTORY ${brassmoor_client_control})
file(WRITE ${brassmoor_client_control}/conffiles "${BRASSMOOR_LIST_SERVERS_FILE}\n")
set(CPACK_DEBIAN_CLIENT_PACKAGE_CONTROL_EXTRA ${brassmoor_client_control}/conffiles)

set(CPACK_DEBIAN_SERVER_PACKAGE_NAME brassmoor-server)
set(CPACK_DEBIAN_SERVER_DESCRIPTION
    "game and list servers for Brassmoor, with simulated players
brassmoor-server serves games of Brassmoor, the networked 3D walk: it
receives each player's position and sends every player a snapshot of all the
others, together with any simulated players it is asked to run. It answers
the queries that players' launchers send to find games on the local network,
and may announce its game to list servers on the Internet.

brassmoor-list is such a list server for a community: game servers announce
themselves to it over HTTP, it lists each only once the game has answered its
own query on UDP port 40123, drops games that stop answering, and serves the
list as JSON for launchers and as a web page for people. It keeps the games
in memory, or in Redis to share one list between several instances.

Both come as system services, installed but not enabled, that run as a
throwaway user with no privileges and no writable files but the server's log
folder; their options are in /etc/default/brassmoor-server and
/etc/default/brassmoor-list and their lines go to the journal. A template
service runs several game servers on one host.

The package also holds brassmoor-relay, which stands between clients and a
server and impairs their datagrams (loss, duplication, reordering, delay,
damage) to show how the game copes with a poor network.

Nothing in it needs a display.")
# Up to 0.2.0 one package named brassmoor held the server too: this one takes those files over.
set(CPACK_DEBIAN_SERVER_PACKAGE_BREAKS "brassmoor (<< 0.3.0)")
set(CPACK_DEBIAN_SERVER_PACKAGE_REPLACES "brassmoor (<< 0.3.0)")
set(brassmoor_server_control ${CMAKE_BINARY_DIR}/deb-control/server)
file(MAKE_DIRECTORY ${brassmoor_server_control})
# CPack marks nothing as a conffile by itself.
file(WRITE ${brassmoor_server_control}/conffiles "${BRASSMOOR_SERVER_DEFAULTS}\n${BRASSMOOR_LIST_DEFAULTS}\n")
set(server_scripts ${PROJECT_SOURCE_DIR}/packaging/linux/server-scripts)
set(CPACK_DEBIAN_SERVER_PACKAGE_CONTROL_EXTRA
    ${brassmoor_server_control}/conffiles ${server_scripts}/postinst ${server_scripts}/prerm
    ${server_scripts}/postrm)

include(CPack)
