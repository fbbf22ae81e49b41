# `make package` (the CMake target `package`, or cpack in a build tree): one
# Debian package, tev-bridge_<version>_<arch>.deb, of the plain install rules
# (tev-conform, the library for other projects) and the node component
# (packaging/CMakeLists.txt), with the maintainer scripts that create the render
# group and the service user. Installed with `apt install ./tev-bridge_*.deb`.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tev-bridge)
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_CONTACT "TEV bridge maintainers <tev-bridge@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "TEV bridge: tev-host, the effect plug-in and the processing server of a render node")
set(CPACK_PACKAGE_DESCRIPTION "The headless host tev-host with the effect plug-in, the conformance checker\
 tev-conform, the reference processing server in the maker folder (${TEV_MAKER_FOLDER}) on port\
 ${TEV_SERVER_PORT}, and the server as a node service (systemd unit ${TEV_SERVICE_NAME}.service, or\
 tev-server-service start). Members of the group ${TEV_RENDER_GROUP} may write its logs.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_PACKAGING_INSTALL_PREFIX "${TEV_PACKAGE_PREFIX}")
set(CPACK_INSTALL_PREFIX "${TEV_PACKAGE_PREFIX}")
# The maker folder is an absolute path outside the prefix: install into a staging root.
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};TEV;Unspecified;/;${CMAKE_BINARY_DIR};TEV;node;/")
set(CPACK_STRIP_FILES ON)
# Shared libraries from dpkg-shlibdeps (libcurl4, libpng16-16, libopenexr, ...);
# the server's runtime and the maintainer scripts' tools by name.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "python3, python3-msgpack, python3-numpy, adduser, util-linux")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA "${TEV_PACKAGE_SCRIPTS}")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
set(CPACK_DEBIAN_COMPRESSION_TYPE gzip)
include(CPack)
