# Run at install time (see Install.cmake): installs the kelnod unit with the
# absolute paths of the daemon and its configuration under the final prefix.
# In: CMAKE_INSTALL_PREFIX, KELNO_BINDIR, KELNO_SYSCONFDIR, KELNO_UNITDIR,
# KELNO_UNIT_TEMPLATE, KELNO_UNIT_STAGING_DIR.

function(kelno_full_path out dir)
  if(IS_ABSOLUTE "${dir}")
    set(${out} "${dir}" PARENT_SCOPE)
  else()
    set(${out} "${CMAKE_INSTALL_PREFIX}/${dir}" PARENT_SCOPE)
  endif()
endfunction()

kelno_full_path(_kelno_bindir "${KELNO_BINDIR}")
kelno_full_path(_kelno_sysconfdir "${KELNO_SYSCONFDIR}")
kelno_full_path(_kelno_unitdir "${KELNO_UNITDIR}")
set(KELNO_UNIT_KELNOD "${_kelno_bindir}/kelnod")
set(KELNO_UNIT_CONFIG "${_kelno_sysconfdir}/kelnod.conf")

# One staging file per destination, so installs into several prefixes at once
# do not overwrite each other's unit.
string(MD5 _kelno_destination "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
set(_kelno_unit "${KELNO_UNIT_STAGING_DIR}/${_kelno_destination}/kelnod.service")
configure_file("${KELNO_UNIT_TEMPLATE}" "${_kelno_unit}" @ONLY)
file(INSTALL DESTINATION "${_kelno_unitdir}" TYPE FILE FILES "${_kelno_unit}")
