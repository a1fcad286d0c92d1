# The Debian package: CPack's DEB generator over the project's own install
# rules, so the package holds exactly what 'cmake --install' puts under
# /usr. scripts/package.sh builds it; docs/packaging.md says what it does.
foreach(script postinst prerm postrm)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/${script}.in ${CMAKE_BINARY_DIR}/deb/${script} @ONLY
                 FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                  WORLD_READ WORLD_EXECUTE)
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME pbbd)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_CONTACT "pbbd maintainers <pbbd@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Provider Backbone Bridging (IEEE 802.1ah) control-plane daemon")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "pbbd runs IEEE 802.1ah Provider Backbone Bridging (MAC-in-MAC) for the
L2VPN virtual switch instances of a modular Ethernet switch: it keeps each
PBB instance's backbone multicast entry, learns unicast pseudo-wire entries
from the frames the forwarding plane copies to it, ages them, follows the
switch's interface, VLAN, spanning-tree and L2VPN events, and saves its
configuration and learned entries so that a restarted daemon recovers them.
.
The package also holds pbbctl, the operator's command-line front end,
pbb-sim, a simulated switch for labs and tests, and pbb-simctl, which
drives it; their systemd units, manual pages and bash completion.
Members of the group pbb may use pbbctl without root.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Library dependencies computed by dpkg-shlibdeps; adduser for the postinst.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "adduser")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${CMAKE_BINARY_DIR}/deb/postinst ${CMAKE_BINARY_DIR}/deb/prerm ${CMAKE_BINARY_DIR}/deb/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
# Manual pages and the changelog compressed as Debian wants them.
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/compress.cmake)
include(CPack)
