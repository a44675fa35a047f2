# Runs in cpack before the package is built (CPACK_PRE_BUILD_SCRIPTS): adds
# the files Debian wants in every package, made from the project's own:
# the copyright file from LICENSE in the machine-readable format, the
# compressed changelog and the lintian overrides.

# The files are put together in a tree of their own, which is then copied
# over the staging tree with the modes Debian expects.
set(_tree "${CPACK_TOPLEVEL_DIRECTORY}/zorvik-debian-docs")
set(_doc "${_tree}${CPACK_ZORVIK_DOCDIR}")
set(_overrides "${_tree}${CPACK_ZORVIK_DATADIR}/lintian/overrides")
file(REMOVE_RECURSE "${_tree}")
file(MAKE_DIRECTORY "${_doc}" "${_overrides}")

file(READ "${CPACK_ZORVIK_LICENSE}" _licence)
if(NOT _licence MATCHES "Copyright \\(c\\) ([^\n]+)\n+(.*)$")
  message(FATAL_ERROR "${CPACK_ZORVIK_LICENSE} has no 'Copyright (c)' line")
endif()
set(_holders "${CMAKE_MATCH_1}")
string(STRIP "${CMAKE_MATCH_2}" _text)
# The licence text becomes a field continuation: every line indented by a
# blank, an empty line written as " .".
string(REPLACE "\n" ";" _lines "${_text}")
set(_field "")
foreach(_line IN LISTS _lines)
  if(_line STREQUAL "")
    string(APPEND _field " .\n")
  else()
    string(APPEND _field " ${_line}\n")
  endif()
endforeach()
file(WRITE "${_doc}/copyright"
  "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
  "Upstream-Name: ${CPACK_PACKAGE_NAME}\n"
  "Upstream-Contact: ${CPACK_PACKAGE_CONTACT}\n"
  "\n"
  "Files: *\n"
  "Copyright: ${_holders}\n"
  "License: Expat\n"
  "${_field}")

# -n leaves out the name and time stamp, so the same text gives the same bytes.
execute_process(COMMAND gzip -9nc "${CPACK_ZORVIK_CHANGELOG}"
  OUTPUT_FILE "${_doc}/changelog.gz" RESULT_VARIABLE _status)
if(NOT _status EQUAL 0)
  message(FATAL_ERROR "gzip failed on ${CPACK_ZORVIK_CHANGELOG}")
endif()

file(COPY_FILE "${CPACK_ZORVIK_LINTIAN_OVERRIDES}" "${_overrides}/${CPACK_PACKAGE_NAME}")

# Not file(INSTALL): it would put cpack's DESTDIR in front once more.
file(COPY "${_tree}/" DESTINATION "${CPACK_TEMPORARY_INSTALL_DIRECTORY}"
  FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ
  DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE
    GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
