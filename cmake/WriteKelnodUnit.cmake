# Run at install time (see Install.cmake): writes the kelnod unit with the
# absolute paths of the daemon and its configuration under the final prefix.
# In: CMAKE_INSTALL_PREFIX, KELNO_BINDIR, KELNO_SYSCONFDIR, KELNO_UNIT_TEMPLATE,
# KELNO_UNIT_FILE.

function(kelno_full_path out dir)
  if(IS_ABSOLUTE "${dir}")
    set(${out} "${dir}" PARENT_SCOPE)
  else()
    set(${out} "${CMAKE_INSTALL_PREFIX}/${dir}" PARENT_SCOPE)
  endif()
endfunction()

kelno_full_path(_kelno_bindir "${KELNO_BINDIR}")
kelno_full_path(_kelno_sysconfdir "${KELNO_SYSCONFDIR}")
set(KELNO_UNIT_KELNOD "${_kelno_bindir}/kelnod")
set(KELNO_UNIT_CONFIG "${_kelno_sysconfdir}/kelnod.conf")
configure_file("${KELNO_UNIT_TEMPLATE}" "${KELNO_UNIT_FILE}" @ONLY)
