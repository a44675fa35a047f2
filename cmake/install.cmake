# Installation, the CMake package, pkg-config file and the Debian package.
# Included at the end of the root CMakeLists.txt, once every target exists.

include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(ZORVIK_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/zorvik)

# The program finds its library through the default search path when the
# prefix's libdir is a system one; anywhere else it carries a run path
# relative to itself, so the installed tree can be moved as a whole.
# It is linked once more for that, with its final run path from the start,
# so no rewrite at install (and no padding) is needed.
add_executable(zorvik_installed ${PROJECT_SOURCE_DIR}/cli/main.cpp)
target_compile_options(zorvik_installed PRIVATE -Wformat=2)
target_link_libraries(zorvik_installed PRIVATE zorvik_cli zorvik::libzorvik zorvik_options)
set_target_properties(zorvik_installed PROPERTIES
  OUTPUT_NAME zorvik
  RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/installed
  BUILD_WITH_INSTALL_RPATH ON)
set(_zorvik_system_dirs
  ${CMAKE_PLATFORM_IMPLICIT_LINK_DIRECTORIES} ${CMAKE_CXX_IMPLICIT_LINK_DIRECTORIES})
if(NOT CMAKE_INSTALL_FULL_LIBDIR IN_LIST _zorvik_system_dirs)
  file(RELATIVE_PATH _zorvik_bin_to_lib
    ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBDIR})
  set_target_properties(zorvik_installed PROPERTIES INSTALL_RPATH "$ORIGIN/${_zorvik_bin_to_lib}")
endif()

# Consumers compile the public headers, which need C++17 (inline variables).
target_compile_features(libzorvik INTERFACE cxx_std_17)

install(TARGETS zorvik_installed
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

install(TARGETS libzorvik EXPORT zorvikTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})

install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/zorvik
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
  FILES_MATCHING PATTERN "*.h")

install(EXPORT zorvikTargets
  NAMESPACE zorvik::
  DESTINATION ${ZORVIK_CMAKE_DIR})

configure_package_config_file(
  ${CMAKE_CURRENT_LIST_DIR}/zorvikConfig.cmake.in
  ${PROJECT_BINARY_DIR}/zorvikConfig.cmake
  INSTALL_DESTINATION ${ZORVIK_CMAKE_DIR})
write_basic_package_version_file(
  ${PROJECT_BINARY_DIR}/zorvikConfigVersion.cmake
  VERSION ${PROJECT_VERSION}
  COMPATIBILITY SameMajorVersion)
install(FILES
  ${PROJECT_BINARY_DIR}/zorvikConfig.cmake
  ${PROJECT_BINARY_DIR}/zorvikConfigVersion.cmake
  DESTINATION ${ZORVIK_CMAKE_DIR})

# The pkg-config file names the prefix it is installed under, which
# `cmake --install --prefix` may change after configuring: write it then.
install(CODE "
  set(ZORVIK_PC_TEMPLATE \"${CMAKE_CURRENT_LIST_DIR}/zorvik.pc.in\")
  set(ZORVIK_PC_OUTPUT \"${PROJECT_BINARY_DIR}/pkgconfig/zorvik.pc\")
  set(ZORVIK_PC_LIBDIR \"${CMAKE_INSTALL_LIBDIR}\")
  set(ZORVIK_PC_INCLUDEDIR \"${CMAKE_INSTALL_INCLUDEDIR}\")
  set(ZORVIK_PC_VERSION \"${ZORVIK_VERSION_TEXT}\")
")
install(SCRIPT ${CMAKE_CURRENT_LIST_DIR}/zorvikPkgConfig.cmake)

install(FILES ${PROJECT_SOURCE_DIR}/docs/zorvik.1
  DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${PROJECT_SOURCE_DIR}/docs/zorvik.conf.5
  DESTINATION ${CMAKE_INSTALL_MANDIR}/man5)
install(FILES ${PROJECT_SOURCE_DIR}/completion/zorvik
  DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
# zsh looks for a distribution's completions in vendor-completions and for
# those installed locally in site-functions.
if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  set(_zorvik_zsh_completions ${CMAKE_INSTALL_DATADIR}/zsh/vendor-completions)
else()
  set(_zorvik_zsh_completions ${CMAKE_INSTALL_DATADIR}/zsh/site-functions)
endif()
install(FILES ${PROJECT_SOURCE_DIR}/completion/_zorvik
  DESTINATION ${_zorvik_zsh_completions})
install(FILES ${PROJECT_SOURCE_DIR}/completion/zorvik.fish
  DESTINATION ${CMAKE_INSTALL_DATADIR}/fish/vendor_completions.d)
install(FILES
  ${PROJECT_SOURCE_DIR}/examples/CMakeLists.txt
  ${PROJECT_SOURCE_DIR}/examples/hash_stdin.cpp
  DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)

include(${CMAKE_CURRENT_LIST_DIR}/package.cmake)
