# Makes the files that name installed paths from their templates in dist/,
# for the prefix TEV_DIST_PREFIX (else the install's CMAKE_INSTALL_PREFIX),
# and installs them. Runs when installing (cmake/Install.cmake); with
# TEV_DIST_SCRIPTS_ONLY at configure time it only makes the package's
# maintainer scripts.
#   in: TEV_SOURCE_DIR TEV_OUT TEV_LIBDIR TEV_BUS_PORT NATS_SERVER TEV_VERSION
if(DEFINED TEV_DIST_PREFIX)
  set(prefix ${TEV_DIST_PREFIX})
else()
  set(prefix ${CMAKE_INSTALL_PREFIX})
endif()
# The package's settings are in /etc; an install elsewhere keeps its own.
if(prefix STREQUAL "/usr")
  set(TEV_SYSCONFDIR /etc)
else()
  set(TEV_SYSCONFDIR ${prefix}/etc)
endif()
set(TEV_BINDIR ${prefix}/bin)
set(TEV_MODULEDIR ${prefix}/${TEV_LIBDIR}/tev)
set(TEV_SHAREDIR ${prefix}/share/tev)
set(TEV_SAMPLESDIR ${TEV_SHAREDIR}/samples)
set(TEV_DOCDIR ${prefix}/share/doc/tevpvr)
set(TEV_LIBEXECDIR ${prefix}/libexec/tev)
set(TEV_SYSUSERSDIR ${prefix}/lib/sysusers.d)
set(TEV_TMPFILESDIR ${prefix}/lib/tmpfiles.d)
set(TEV_ETC /etc/tev)
set(TEV_BUS_ETC ${TEV_ETC}/bus)
set(TEV_UNITS tev-bus.service tev-peers.service tevpvr.service tev-web.service)
string(REPLACE ";" " " TEV_UNITS "${TEV_UNITS}")

if(TEV_DIST_SCRIPTS_ONLY)
  foreach(script postinst prerm postrm)
    configure_file(${TEV_SOURCE_DIR}/dist/debian/${script}.in ${TEV_OUT}/${script} @ONLY)
  endforeach()
  file(WRITE ${TEV_OUT}/conffiles "/etc/default/tev\n")
  return()
endif()

configure_file(${TEV_SOURCE_DIR}/dist/registry.ini.in ${TEV_OUT}/registry.ini @ONLY)
configure_file(${TEV_SOURCE_DIR}/dist/default-tev.in ${TEV_OUT}/default/tev @ONLY)
file(INSTALL ${TEV_OUT}/registry.ini DESTINATION ${TEV_SHAREDIR})
file(INSTALL ${TEV_OUT}/default/tev DESTINATION ${TEV_SYSCONFDIR}/default)
foreach(unit tev-bus tev-peers tevpvr tev-web)
  configure_file(${TEV_SOURCE_DIR}/dist/systemd/${unit}.service.in ${TEV_OUT}/${unit}.service @ONLY)
  file(INSTALL ${TEV_OUT}/${unit}.service DESTINATION ${prefix}/lib/systemd/system)
endforeach()
# Debian's documentation: the copyright file as it stands, the changelog
# compressed without a time stamp.
configure_file(${TEV_SOURCE_DIR}/dist/debian/changelog ${TEV_OUT}/changelog COPYONLY)
execute_process(COMMAND gzip -9nf ${TEV_OUT}/changelog RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "gzip of the changelog failed")
endif()
file(INSTALL ${TEV_OUT}/changelog.gz ${TEV_SOURCE_DIR}/dist/debian/copyright DESTINATION ${TEV_DOCDIR})
