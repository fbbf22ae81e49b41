# `make package` (the CMake target `package`, or cpack in a build tree): one
# Debian package, tev-bridge_<version>_<arch>.deb, of the plain install rules
# (tev-conform, the library for other projects) and the node component
# (packaging/CMakeLists.txt), with the maintainer scripts that create the render
# group and the service user. Installed with `apt install ./tev-bridge_*.deb`.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tev-bridge)
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(TEV_PACKAGE_MAINTAINER "TEV bridge team <tev-bridge@tev.invalid>" CACHE STRING
    "Maintainer field of the Debian package: the team that answers for the nodes' package")
set(CPACK_PACKAGE_CONTACT "${TEV_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "headless effect host, plug-in and processing server of a render node")
# Lines of at most 80 characters, as Debian's checker wants them.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
  "The headless host tev-host renders image files and sequences through the"
  "effect plug-in, which sends every frame to a processing server on this"
  "machine. The package holds both, the conformance checker tev-conform, the"
  "Slurm submission script tev-farm-submit and the reference processing server"
  "in ${TEV_MAKER_FOLDER}, serving 127.0.0.1:${TEV_SERVER_PORT}, which runs as a node"
  "service (the systemd unit ${TEV_SERVICE_NAME}, or tev-server-service)."
  "Members of the group ${TEV_RENDER_GROUP} render and share its logs.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_PACKAGING_INSTALL_PREFIX "${TEV_PACKAGE_PREFIX}")
set(CPACK_INSTALL_PREFIX "${TEV_PACKAGE_PREFIX}")
# The maker folder is an absolute path outside the prefix: install into a staging root.
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};TEV;Unspecified;/;${CMAKE_BINARY_DIR};TEV;node;/")
set(CPACK_STRIP_FILES ON)
# Shared libraries from dpkg-shlibdeps (libcurl4, libpng16-16, libopenexr, ...);
# the server's runtime and the maintainer scripts' tools by name (flock, setpriv
# and setsid are util-linux's, an essential package, which needs no naming).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "python3, python3-msgpack, python3-numpy, adduser")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA "${TEV_PACKAGE_SCRIPTS}")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
set(CPACK_DEBIAN_COMPRESSION_TYPE gzip)
include(CPack)
