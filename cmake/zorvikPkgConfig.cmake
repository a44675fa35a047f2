# Runs at install time (install(SCRIPT)): writes zorvik.pc for the prefix
# actually installed into. ZORVIK_PC_* are set by install(CODE) beforehand.

set(ZORVIK_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
foreach(kind LIBDIR INCLUDEDIR)
  if(IS_ABSOLUTE "${ZORVIK_PC_${kind}}")
    set(ZORVIK_PC_${kind}_VALUE "${ZORVIK_PC_${kind}}")
  else()
    set(ZORVIK_PC_${kind}_VALUE "\${prefix}/${ZORVIK_PC_${kind}}")
  endif()
endforeach()
string(REPLACE "\${prefix}" "${CMAKE_INSTALL_PREFIX}" _pc_directory
  "${ZORVIK_PC_LIBDIR_VALUE}/pkgconfig")

configure_file("${ZORVIK_PC_TEMPLATE}" "${ZORVIK_PC_OUTPUT}" @ONLY)
file(INSTALL DESTINATION "${_pc_directory}" TYPE FILE FILES "${ZORVIK_PC_OUTPUT}")
