# Installation: the three libraries with their headers and pkg-config files,
# the daemon and the tools, an example /etc/kelnod.conf and a systemd unit.
# Every path is relative to the prefix unless set absolute, so
# `cmake --install <build> --prefix <dir>` and DESTDIR installs both work.

set(KELNO_SYSTEMD_UNITDIR "lib/systemd/system" CACHE STRING
    "Where the kelnod systemd unit goes (relative to the prefix unless absolute)")

# libkelno_util links nothing of this tree, so it is built without a run path
# and none can be written into it on install; it needs none.
set_target_properties(kelno_util PROPERTIES INSTALL_RPATH "")
install(TARGETS kelno_util zmq_catapult kelno_messenging
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(DIRECTORY
    ${PROJECT_SOURCE_DIR}/util/include/
    ${PROJECT_SOURCE_DIR}/zmq/include/
    ${PROJECT_SOURCE_DIR}/messaging/include/
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(TARGETS kelnod kelno_prompt kelno_mirror_json kelno_json_tester kelno_stats
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/config/kelnod.conf
  DESTINATION ${CMAKE_INSTALL_SYSCONFDIR})
install(FILES
    ${PROJECT_SOURCE_DIR}/packaging/man/kelnod.1
    ${PROJECT_SOURCE_DIR}/packaging/man/kelno_prompt.1
    ${PROJECT_SOURCE_DIR}/packaging/man/kelno_mirror_json.1
    ${PROJECT_SOURCE_DIR}/packaging/man/kelno_json_tester.1
    ${PROJECT_SOURCE_DIR}/packaging/man/kelno_stats.1
  DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# pkg-config files find the prefix from their own place (${pcfiledir}), so a
# tree installed under another prefix still works.
set(_kelno_pc_dir "${CMAKE_INSTALL_LIBDIR}/pkgconfig")
if(IS_ABSOLUTE "${_kelno_pc_dir}")
  set(KELNO_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
else()
  file(RELATIVE_PATH _kelno_pc_up "/prefix/${_kelno_pc_dir}" "/prefix")
  string(REGEX REPLACE "/$" "" _kelno_pc_up "${_kelno_pc_up}")
  set(KELNO_PC_PREFIX "\${pcfiledir}/${_kelno_pc_up}")
endif()
foreach(_kelno_kind LIBDIR INCLUDEDIR)
  if(IS_ABSOLUTE "${CMAKE_INSTALL_${_kelno_kind}}")
    set(KELNO_PC_${_kelno_kind} "${CMAKE_INSTALL_${_kelno_kind}}")
  else()
    set(KELNO_PC_${_kelno_kind} "\${prefix}/${CMAKE_INSTALL_${_kelno_kind}}")
  endif()
endforeach()
foreach(_kelno_library kelno_util zmq_catapult kelno_messenging)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/${_kelno_library}.pc.in
                 ${PROJECT_BINARY_DIR}/packaging/${_kelno_library}.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/packaging/${_kelno_library}.pc
    DESTINATION ${_kelno_pc_dir})
endforeach()

# The unit names absolute paths, so it is written at install time, when the
# final prefix is known.
install(CODE "
  set(KELNO_BINDIR \"${CMAKE_INSTALL_BINDIR}\")
  set(KELNO_SYSCONFDIR \"${CMAKE_INSTALL_SYSCONFDIR}\")
  set(KELNO_UNITDIR \"${KELNO_SYSTEMD_UNITDIR}\")
  set(KELNO_UNIT_TEMPLATE \"${PROJECT_SOURCE_DIR}/packaging/kelnod.service.in\")
  set(KELNO_UNIT_STAGING_DIR \"${PROJECT_BINARY_DIR}/packaging/units\")
  include(\"${PROJECT_SOURCE_DIR}/cmake/WriteKelnodUnit.cmake\")
")
