# The Debian package (cpack -G DEB): program, library, headers, CMake and
# pkg-config files, manual pages and bash completion in one package, with
# the copyright file, changelog and lintian overrides Debian wants.

set(CPACK_PACKAGE_NAME zorvik)
set(CPACK_PACKAGE_VENDOR "zorvik developers")
set(CPACK_PACKAGE_CONTACT "zorvik developers <maintainers@zorvik.org>")
set(CPACK_PACKAGE_VERSION ${ZORVIK_VERSION_TEXT})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "fast file checksum creation and validation tool")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
  "zorvik writes SFV files (CRC-32) and MD5 lists for files and directory\n"
  "trees and verifies them. SFV files remember which entries verified, so\n"
  "a later run skips unchanged files. The package also holds the shared\n"
  "library libzorvik with its headers, CMake package and pkg-config file.")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://zorvik.org/")
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${CPACK_PACKAGE_CONTACT})
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# The package ships a shared library: describe it for packages built
# against it, and refresh the loader cache through dpkg's trigger.
file(WRITE ${PROJECT_BINARY_DIR}/debian/shlibs
  "libzorvik ${PROJECT_VERSION_MAJOR} zorvik (>= ${ZORVIK_VERSION_TEXT})\n")
file(WRITE ${PROJECT_BINARY_DIR}/debian/triggers "activate-noawait ldconfig\n")
# cpack would add postinst and postrm scripts running ldconfig, which the
# trigger already does; naming them here keeps them out. They do not exist,
# so cpack warns that it is "adding" missing files.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
  ${PROJECT_BINARY_DIR}/debian/shlibs ${PROJECT_BINARY_DIR}/debian/triggers
  ${PROJECT_BINARY_DIR}/debian/none/postinst ${PROJECT_BINARY_DIR}/debian/none/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

# The library opens libcrypto itself when SHA or BLAKE2b is first used, so
# no tool sees it among the binaries' needs: its package is named here, as
# the package that holds the libcrypto found at configure time (libssl3 on
# Debian 12), from 3.0 on, which brought the EVP functions used.
set(_zorvik_crypto_package libssl3)
find_program(ZORVIK_DPKG_QUERY dpkg-query)
mark_as_advanced(ZORVIK_DPKG_QUERY)
get_filename_component(_zorvik_crypto_file "${OPENSSL_CRYPTO_LIBRARY}" REALPATH)
if(ZORVIK_DPKG_QUERY)
  execute_process(COMMAND ${ZORVIK_DPKG_QUERY} -S "${_zorvik_crypto_file}"
    OUTPUT_VARIABLE _zorvik_owner ERROR_QUIET RESULT_VARIABLE _zorvik_query)
  if(_zorvik_query EQUAL 0 AND _zorvik_owner MATCHES "^([a-z0-9.+-]+)[:,]")
    set(_zorvik_crypto_package ${CMAKE_MATCH_1})
  endif()
endif()
set(_zorvik_crypto_depends "${_zorvik_crypto_package} (>= 3.0.0)")

# cpack needs both tools to compute the dependencies from the binaries; it
# adds them to the ones named here.
find_program(ZORVIK_DPKG_SHLIBDEPS dpkg-shlibdeps)
find_program(ZORVIK_FILE file)
mark_as_advanced(ZORVIK_DPKG_SHLIBDEPS ZORVIK_FILE)
if(ZORVIK_DPKG_SHLIBDEPS AND ZORVIK_FILE)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # The program needs libzorvik.so.3, which this package itself brings.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS
    ${PROJECT_BINARY_DIR}/lib)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "${_zorvik_crypto_depends}")
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "libc6 (>= 2.34), libgcc-s1 (>= 3.0), libstdc++6 (>= 12), libxxhash0 (>= 0.8.0), ${_zorvik_crypto_depends}")
endif()

# What the scripts below read; cpack passes CPACK_* variables on to them.
set(CPACK_ZORVIK_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_ZORVIK_CHANGELOG ${PROJECT_SOURCE_DIR}/packaging/changelog)
set(CPACK_ZORVIK_LINTIAN_OVERRIDES ${PROJECT_SOURCE_DIR}/packaging/lintian-overrides)
set(CPACK_ZORVIK_DOCDIR ${CMAKE_INSTALL_FULL_DOCDIR})
set(CPACK_ZORVIK_DATADIR ${CMAKE_INSTALL_FULL_DATADIR})
set(CPACK_ZORVIK_STRIP ${CMAKE_STRIP})
set(CPACK_PRE_BUILD_SCRIPTS
  ${CMAKE_CURRENT_LIST_DIR}/packageManPages.cmake
  ${CMAKE_CURRENT_LIST_DIR}/packageStrip.cmake
  ${CMAKE_CURRENT_LIST_DIR}/packageDebianDocs.cmake)

set(CPACK_GENERATOR DEB)
set(CPACK_SOURCE_GENERATOR TGZ)
set(CPACK_SOURCE_IGNORE_FILES "/\\\\.git/" "/build[^/]*/")

include(CPack)
