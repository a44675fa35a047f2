# Runs in cpack before the package is built (CPACK_PRE_BUILD_SCRIPTS):
# Debian packages carry their manual pages compressed.

file(GLOB_RECURSE _pages
  "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*/share/man/man[1-9]/*.[1-9]")
foreach(page IN LISTS _pages)
  execute_process(COMMAND gzip -9nf "${page}" RESULT_VARIABLE _status)
  if(NOT _status EQUAL 0)
    message(FATAL_ERROR "gzip failed on ${page}")
  endif()
endforeach()
