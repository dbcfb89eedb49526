# Installation as a Linux service, and the Debian package.
#
#   cmake --install build                      # into /usr (the default prefix)
#   cmake --install build --prefix /tmp/tev    # anywhere else
#   cmake --build build --target deb           # builds what the package holds, then
#                                              # build/tevpvr_<version>_<arch>.deb
#   (cd build && cpack -G DEB)                 # the same package from a finished build
# In a folder made for the package only (-DTEV_TESTS=OFF -DTEV_BENCHMARKS=OFF)
# `--target package` does the same; elsewhere it packages what is built.
#
# The package always installs into /usr, whatever prefix the build folder
# was configured with. Programs in bin/, the module in lib/<arch>/tev/,
# samples and the default settings in share/tev/, documents and man pages
# in share/, systemd units, sysusers and tmpfiles entries under lib/, the
# operator's ports and addresses in /etc/default/tev. The units run the bus
# (tev-bus), the stand-in peers (tev-peers), the module (tevpvr) and its web
# page (tev-web) as the user tev, with data in /var/lib/tev and recordings
# in /srv/tev. The bus takes passwords, made once by the package
# (nats-auth.sh, in libexec/tev/).
set(CMAKE_INSTALL_DOCDIR share/doc/tevpvr)
include(GNUInstallDirs)
# The module goes into Debian's multiarch library folder also when the
# prefix is not /usr (GNUInstallDirs then says lib), so that the package is
# the same from every build folder.
if(CMAKE_LIBRARY_ARCHITECTURE)
  set(TEV_LIBDIR lib/${CMAKE_LIBRARY_ARCHITECTURE})
else()
  set(TEV_LIBDIR ${CMAKE_INSTALL_LIBDIR})
endif()

# Debian's nats-server package runs its own server on 4222 (without our
# users), so the installed bus listens next to it.
set(TEV_BUS_PORT 4223)
set(TEV_PACKAGE_PREFIX /usr)
find_program(NATS_SERVER nats-server PATHS /usr/sbin /usr/bin)
if(NOT NATS_SERVER)
  set(NATS_SERVER /usr/bin/nats-server)
endif()

install(TARGETS velctl tevpvr-host tev-peers tev-web RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS TevPVR LIBRARY DESTINATION ${TEV_LIBDIR}/tev)
install(FILES peers/samples/channels.json peers/samples/guide.xml peers/samples/tuners.json
  peers/samples/README.md DESTINATION ${CMAKE_INSTALL_DATADIR}/tev/samples)
install(PROGRAMS scripts/nats-auth.sh DESTINATION ${CMAKE_INSTALL_LIBEXECDIR}/tev)
install(FILES README.md docs/SERVICES.md docs/DEPLOY.md vel/WIRE.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES dist/sysusers-tev.conf DESTINATION lib/sysusers.d RENAME tev.conf)
install(FILES dist/tmpfiles-tev.conf DESTINATION lib/tmpfiles.d RENAME tev.conf)

# Man pages from the programs' --help.
set(TEV_MAN_PAGES)
find_program(HELP2MAN help2man)
if(HELP2MAN)
  set(TEV_MAN_DIR ${CMAKE_BINARY_DIR}/man)
  foreach(entry
      "velctl|schedule and inspect recordings of the Tev PVR module"
      "tevpvr-host|run the Tev PVR module as a service"
      "tev-peers|stand-in media library, streamer and guide satellites of the Tev bus"
      "tev-web|web page of the Tev PVR module")
    string(REPLACE "|" ";" entry "${entry}")
    list(GET entry 0 program)
    list(GET entry 1 summary)
    add_custom_command(OUTPUT ${TEV_MAN_DIR}/${program}.1.gz
      COMMAND ${CMAKE_COMMAND} -E make_directory ${TEV_MAN_DIR}
      COMMAND ${HELP2MAN} --no-info --no-discard-stderr --version-string=${PROJECT_VERSION}
        --name=${summary} --output=${TEV_MAN_DIR}/${program}.1 $<TARGET_FILE:${program}>
      COMMAND gzip -9nf ${TEV_MAN_DIR}/${program}.1
      DEPENDS ${program} VERBATIM)
    list(APPEND TEV_MAN_PAGES ${TEV_MAN_DIR}/${program}.1.gz)
  endforeach()
  add_custom_target(tev_man ALL DEPENDS ${TEV_MAN_PAGES})
  install(FILES ${TEV_MAN_PAGES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
else()
  message(STATUS "help2man not found: no man pages (apt-get install help2man)")
endif()

# Files that name installed paths are made when installing, for the prefix
# installed into (the package's is /usr; see CPACK_INSTALL_PREFIX below).
install(CODE "
  set(TEV_SOURCE_DIR [[${CMAKE_SOURCE_DIR}]])
  set(TEV_OUT [[${CMAKE_BINARY_DIR}/dist/installed]])
  set(TEV_LIBDIR [[${TEV_LIBDIR}]])
  set(TEV_BUS_PORT ${TEV_BUS_PORT})
  set(NATS_SERVER [[${NATS_SERVER}]])
  set(TEV_VERSION ${PROJECT_VERSION})
  include([[${CMAKE_SOURCE_DIR}/cmake/DistFiles.cmake]])
")

# The maintainer scripts only ever run from the package.
set(TEV_SOURCE_DIR ${CMAKE_SOURCE_DIR})
set(TEV_VERSION ${PROJECT_VERSION})
set(TEV_DIST_OUT ${CMAKE_BINARY_DIR}/dist/package)
set(TEV_OUT ${TEV_DIST_OUT})
set(TEV_DIST_PREFIX ${TEV_PACKAGE_PREFIX})
set(TEV_DIST_SCRIPTS_ONLY ON)
include(cmake/DistFiles.cmake)
unset(TEV_DIST_SCRIPTS_ONLY)
unset(TEV_DIST_PREFIX)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tevpvr)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Tev Networks")
set(CPACK_PACKAGE_CONTACT "Tev Networks <pvr@tev.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "personal video recorder module of the Tev media server")
# The long description; the summary above is its first line.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "The Tev PVR module schedules and records television through the streamer
satellite of the Tev service bus (NATS), publishes its recordings to the
media library and keeps its state in an SQLite database.
.
This package holds the module with the program that hosts it as a system
service (tevpvr-host), stand-in media library, streamer and guide
satellites (tev-peers), a web page (tev-web), the command-line client
velctl, and a password-protected bus server configuration. The services
run as the user tev; recordings go to /srv/tev.")
# The package installs into /usr from every build folder: the install runs
# with this prefix inside the staging folder.
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX ${TEV_PACKAGE_PREFIX})
set(CPACK_PACKAGING_INSTALL_PREFIX ${TEV_PACKAGE_PREFIX})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://tev.invalid/pvr")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# A build with debug information would make a package three times the size.
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "nats-server, ffmpeg, ucf, passwd")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
  "${TEV_DIST_OUT}/postinst;${TEV_DIST_OUT}/prerm;${TEV_DIST_OUT}/postrm;${TEV_DIST_OUT}/conffiles")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)

# Builds only what the package holds, then the package. So that cpack does
# not build every test and benchmark first, installing from a folder that
# has them does not build anything (build first, or use this target).
if(TEV_TESTS OR TEV_BENCHMARKS)
  set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)
endif()
add_custom_target(deb
  COMMAND ${CMAKE_CPACK_COMMAND} --config ${CMAKE_BINARY_DIR}/CPackConfig.cmake -G DEB
  WORKING_DIRECTORY ${CMAKE_BINARY_DIR} VERBATIM)
add_dependencies(deb velctl tevpvr-host tev-peers tev-web TevPVR)
if(TARGET tev_man)
  add_dependencies(deb tev_man)
endif()
