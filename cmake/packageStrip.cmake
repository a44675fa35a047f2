# Runs in cpack before the package is built (CPACK_PRE_BUILD_SCRIPTS): the
# strip at install time keeps the .comment section (compiler versions),
# which a Debian package leaves out as dh_strip does.

if(NOT CPACK_ZORVIK_STRIP)
  return()
endif()
file(GLOB_RECURSE _files LIST_DIRECTORIES false "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*")
foreach(file IN LISTS _files)
  if(IS_SYMLINK "${file}")
    continue()
  endif()
  file(READ "${file}" _magic LIMIT 4 HEX)
  if(_magic STREQUAL "7f454c46")
    execute_process(
      COMMAND "${CPACK_ZORVIK_STRIP}" --remove-section=.comment --remove-section=.note "${file}"
      RESULT_VARIABLE _status)
    if(NOT _status EQUAL 0)
      message(FATAL_ERROR "strip failed on ${file}")
    endif()
  endif()
endforeach()
