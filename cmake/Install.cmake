# Installation as a Linux service, and the Debian package.
#
#   cmake --install build                      # into /usr (the default prefix)
#   cmake --install build --prefix /tmp/tev    # anywhere else
#   (cd build && cpack -G DEB)                 # tevpvr_<version>_<arch>.deb
#
# Programs in bin/, the module in lib/<arch>/tev/, samples and the default
# settings in share/tev/, documents in share/doc/tevpvr/, systemd units,
# sysusers and tmpfiles entries under lib/. The units run the bus
# (tev-bus), the stand-in peers (tev-peers) and the module (tevpvr) as the
# user tev, with data in /var/lib/tev and recordings in /srv/tev. The bus
# takes passwords, made once by the package (nats-auth.sh, in libexec/tev/).
set(CMAKE_INSTALL_DOCDIR share/doc/tevpvr)
include(GNUInstallDirs)

set(TEV_BINDIR ${CMAKE_INSTALL_FULL_BINDIR})
set(TEV_MODULEDIR ${CMAKE_INSTALL_FULL_LIBDIR}/tev)
set(TEV_SHAREDIR ${CMAKE_INSTALL_FULL_DATADIR}/tev)
set(TEV_SAMPLESDIR ${TEV_SHAREDIR}/samples)
set(TEV_DOCDIR ${CMAKE_INSTALL_FULL_DOCDIR})
set(TEV_SYSUSERSDIR ${CMAKE_INSTALL_PREFIX}/lib/sysusers.d)
set(TEV_TMPFILESDIR ${CMAKE_INSTALL_PREFIX}/lib/tmpfiles.d)
set(TEV_LIBEXECDIR ${CMAKE_INSTALL_FULL_LIBEXECDIR}/tev)
set(TEV_BUS_ETC /etc/tev/bus)
# Debian's nats-server package runs its own server on 4222 (without our
# users), so the installed bus listens next to it.
set(TEV_BUS_PORT 4223)
find_program(NATS_SERVER nats-server PATHS /usr/sbin /usr/bin)
if(NOT NATS_SERVER)
  set(NATS_SERVER /usr/sbin/nats-server)
endif()

install(TARGETS velctl tevpvr-host tev-peers RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS TevPVR LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}/tev)
install(FILES peers/samples/channels.json peers/samples/guide.xml peers/samples/tuners.json
  peers/samples/README.md DESTINATION ${CMAKE_INSTALL_DATADIR}/tev/samples)
install(PROGRAMS scripts/nats-auth.sh DESTINATION ${CMAKE_INSTALL_LIBEXECDIR}/tev)
install(FILES README.md docs/SERVICES.md vel/WIRE.md DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(TEV_DIST_OUT ${CMAKE_BINARY_DIR}/dist)
configure_file(dist/registry.ini.in ${TEV_DIST_OUT}/registry.ini @ONLY)
install(FILES ${TEV_DIST_OUT}/registry.ini DESTINATION ${CMAKE_INSTALL_DATADIR}/tev)
foreach(unit tev-bus tev-peers tevpvr)
  configure_file(dist/systemd/${unit}.service.in ${TEV_DIST_OUT}/${unit}.service @ONLY)
  install(FILES ${TEV_DIST_OUT}/${unit}.service DESTINATION lib/systemd/system)
endforeach()
install(FILES dist/sysusers-tev.conf DESTINATION lib/sysusers.d RENAME tev.conf)
install(FILES dist/tmpfiles-tev.conf DESTINATION lib/tmpfiles.d RENAME tev.conf)
foreach(script postinst prerm postrm)
  configure_file(dist/debian/${script}.in ${TEV_DIST_OUT}/debian/${script} @ONLY)
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tevpvr)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Tev Networks")
set(CPACK_PACKAGE_CONTACT "Tev Networks <pvr@tev.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Tev PVR module, its host, stand-in peers and velctl, as systemd services")
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# A build with debug information would make a package three times the size.
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "nats-server, ffmpeg")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
  "${TEV_DIST_OUT}/debian/postinst;${TEV_DIST_OUT}/debian/prerm;${TEV_DIST_OUT}/debian/postrm")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
