# Read by CPack once per generator: the Debian and RPM packages install below /usr, the tarball
# unpacks to bin/, share/man/man1/ and share/machineinfo/ inside its top folder.
if(CPACK_GENERATOR STREQUAL "TGZ")
  set(CPACK_PACKAGING_INSTALL_PREFIX "")
  set(CPACK_PACKAGE_FILE_NAME "machineinfo-${CPACK_PACKAGE_VERSION}-linux-${CPACK_MACHINEINFO_ARCHITECTURE}")
else()
  set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
endif()
