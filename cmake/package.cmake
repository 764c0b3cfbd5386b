# The Debian package: `cpack -G DEB` in the build directory. Its payload is the
# install above under /usr, plus what Debian policy asks of every package: a
# compressed manual page, a changelog and a copyright file (added to the
# staging tree by debian/prepare.cmake, so a plain install keeps its
# uncompressed manual page).
set(BACKFILL_MAINTAINER
  "backfill-workspace maintainers <maintainers@users.noreply.c-seed-b86fe462.example>")
set(CPACK_PACKAGE_NAME backfill-workspace)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${BACKFILL_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "regenerate a note workspace's derived state from its journal")
# The extended description; cpack puts the summary above it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "backfill-workspace reads the dated journal records of a note-taking
workspace and writes what the note application derives from them: goal
files, the knowledge graph, topic files, month-end statistics snapshots,
monthly, weekly and daily reports and the record counter. User decisions
kept in the graph and the application's counters survive a run, and every
derived file is replaced atomically.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${BACKFILL_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS OFF)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_GENERATOR DEB)
configure_file(${CMAKE_CURRENT_LIST_DIR}/debian/changelog.in debian/changelog @ONLY)
set(BACKFILL_DEBIAN_DIR ${CMAKE_CURRENT_BINARY_DIR}/debian)
set(BACKFILL_COPYRIGHT ${CMAKE_CURRENT_LIST_DIR}/debian/copyright)
configure_file(${CMAKE_CURRENT_LIST_DIR}/debian/prepare.cmake.in debian/prepare.cmake @ONLY)
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_BINARY_DIR}/debian/prepare.cmake)
include(CPack)
