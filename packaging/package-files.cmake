# Run by CPack for each generator after the install step, in the staging folder: adds what only the
# Debian package carries (its copyright file, its compressed changelog and its lintian overrides).
if(NOT CPACK_GENERATOR STREQUAL "DEB")
  return()
endif()
set(staging "${CPACK_TEMPORARY_INSTALL_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}")
set(doc "${staging}/share/doc/${CPACK_PACKAGE_NAME}")
file(MAKE_DIRECTORY "${doc}" "${staging}/share/lintian/overrides")
configure_file("${CPACK_MACHINEINFO_PACKAGING_DIR}/debian/copyright" "${doc}/copyright" COPYONLY)
execute_process(COMMAND gzip -9nc "${CPACK_MACHINEINFO_PACKAGING_DIR}/debian/changelog"
                OUTPUT_FILE "${doc}/changelog.gz" COMMAND_ERROR_IS_FATAL ANY)
configure_file("${CPACK_MACHINEINFO_PACKAGING_DIR}/lintian-overrides"
               "${staging}/share/lintian/overrides/${CPACK_PACKAGE_NAME}" COPYONLY)
file(CHMOD "${doc}/copyright" "${doc}/changelog.gz" "${staging}/share/lintian/overrides/${CPACK_PACKAGE_NAME}"
     PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
