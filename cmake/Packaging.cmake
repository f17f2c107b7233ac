# Installation and the Debian package: both programs, the desktop entry, the
# icon, quillon-cli's manual page and bash completion under the usual GNU
# directories; CPack
# turns the same rules into a .deb whose postinst grants raw ICMP sockets.
include(GNUInstallDirs)

set(QUILLON_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)

foreach(program IN ITEMS quillon quillon-cli)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()

if(TARGET quillon)
  install(FILES ${QUILLON_PACKAGING_DIR}/quillon.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${QUILLON_PACKAGING_DIR}/quillon.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
endif()

# The manual page carries the project's version; Debian wants it compressed
# (gzip -n: no name or time stamp, so the file is the same at every build).
if(TARGET quillon-cli)
  configure_file(${QUILLON_PACKAGING_DIR}/quillon-cli.1.in
                 ${CMAKE_CURRENT_BINARY_DIR}/packaging/quillon-cli.1 @ONLY)
  find_program(QUILLON_GZIP gzip)
  if(QUILLON_GZIP)
    set(man_page ${CMAKE_CURRENT_BINARY_DIR}/packaging/quillon-cli.1.gz)
    add_custom_command(
      OUTPUT ${man_page}
      COMMAND ${QUILLON_GZIP} -9 -n -c ${CMAKE_CURRENT_BINARY_DIR}/packaging/quillon-cli.1
              > ${man_page}
      DEPENDS ${QUILLON_PACKAGING_DIR}/quillon-cli.1.in
      VERBATIM)
    add_custom_target(quillon_man_page ALL DEPENDS ${man_page})
  else()
    set(man_page ${CMAKE_CURRENT_BINARY_DIR}/packaging/quillon-cli.1)
  endif()
  install(FILES ${man_page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  # bash-completion loads completions/<command> the first time it completes
  # that command.
  install(FILES ${QUILLON_PACKAGING_DIR}/quillon-cli.bash-completion
          DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
          RENAME quillon-cli)
endif()

# The Debian package.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quillon)
set(CPACK_PACKAGE_VENDOR "Quillon")
set(CPACK_PACKAGE_CONTACT "Quillon developers <quillon@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "network information tool: whois, MX records, ping, trace route")
set(CPACK_PACKAGE_DESCRIPTION
    "Quillon shows a domain's whois record and mail exchangers, pings a host,
traces the route to it and shows the machine's public and local address,
in one small window (quillon) or on the command line (quillon-cli).")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The run-time libraries (Qt 6, libstdc++, libc) come from dpkg-shlibdeps.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The libraries the programs load at their first use are not linked, so
# dpkg-shlibdeps cannot see them: Depends names their packages here, as the
# build machine's dpkg calls them (libssl3 on Debian 12, libssl3t64 after
# it), with the oldest version that does what the programs ask of it.
#   libssl.so.3   rdap's https (net/tls); libcrypto.so.3 is in the same
#                 package. 3.0.0: the symbol version every function is bound at.
#   libpsl.so.5   cookies set for a domain wider than their host (net/http).
#                 0.20.1: PSL_TYPE_NO_STAR_RULE, as mended in that release.
#   libidn2.so.0  international names (app/lookup). 2.0.5: STD3 rules in
#                 non-transitional mode, as mended in that release.
set(quillon_loaded_libraries "libssl.so.3 libssl3 3.0.0" "libpsl.so.5 libpsl5 0.20.1"
                             "libidn2.so.0 libidn2-0 2.0.5")
set(CPACK_DEBIAN_PACKAGE_DEPENDS "")
foreach(entry IN LISTS quillon_loaded_libraries)
  separate_arguments(entry)
  list(GET entry 0 soname)
  list(GET entry 1 package)
  list(GET entry 2 oldest)
  find_library(QUILLON_FILE_${soname} NAMES ${soname})
  if(QUILLON_FILE_${soname})
    file(REAL_PATH ${QUILLON_FILE_${soname}} real)
    execute_process(COMMAND dpkg-query -S ${real} OUTPUT_VARIABLE owner ERROR_QUIET)
    if(NOT owner)
      execute_process(COMMAND dpkg-query -S ${QUILLON_FILE_${soname}} OUTPUT_VARIABLE owner
                      ERROR_QUIET)
    endif()
    # "libssl3:amd64: /usr/lib/x86_64-linux-gnu/libssl.so.3"
    if(owner MATCHES "^([a-z0-9][a-z0-9.+-]*)(:[a-z0-9]+)?: ")
      set(package ${CMAKE_MATCH_1})
    endif()
  endif()
  list(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS "${package} (>= ${oldest})")
endforeach()
list(JOIN CPACK_DEBIAN_PACKAGE_DEPENDS ", " CPACK_DEBIAN_PACKAGE_DEPENDS)
# setcap, as Debian's ping recommends it: without it the programs still run,
# over unprivileged ICMP datagram sockets.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS libcap2-bin)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${QUILLON_PACKAGING_DIR}/postinst)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
