# Read by cpack before it makes each package. The archives carry LICENSE
# itself under their top folder; the Debian package installs from the root
# and carries the licence in its copyright file, as Debian wants it.
# The server's systemd unit, options and system user are the Debian
# package's only.
if(CPACK_GENERATOR STREQUAL "DEB")
  set(CPACK_COMPONENTS_ALL programs service)
  set(CPACK_COMPONENT_INCLUDE_TOPLEVEL_DIRECTORY OFF)
elseif(CPACK_GENERATOR STREQUAL "TGZ")
  set(CPACK_COMPONENTS_ALL programs licence)
endif()
