# What `cmake --install` puts in place: the shared library with its SONAME and
# version links, its header, a CMake package (mintcore::mintcore), a pkg-config
# file, the same four for the C interface (libmint, mint.h, mint::mint,
# mint.pc), and the two programs with their man pages. Included by the top-level
# CMakeLists.txt after every target it names exists, before the tests that
# check it.
#
# Each file belongs to a component, one for each Debian package that holds it
# (see packaging.cmake): core (libmintcore's run-time library), c (libmint's),
# dev (headers, CMake packages, pkg-config files and the .so links), tools
# (the programs and their man pages), license (the licence text of an install
# tree), and, from their own directories, python and postgresql.
# `cmake --install DIR --component NAME` installs one of them.
include(CMakePackageConfigHelpers)

set(MINT_CMAKE_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/mintcore)
set(MINT_PKGCONFIG_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

install(TARGETS mintcore EXPORT mintcoreTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT core NAMELINK_COMPONENT dev
  PUBLIC_HEADER DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT dev)

# The exported targets locate themselves relative to their own file, so the
# package keeps working wherever the tree is installed or unpacked.
install(EXPORT mintcoreTargets NAMESPACE mintcore:: DESTINATION ${MINT_CMAKE_PACKAGE_DIR} COMPONENT dev)
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/mintcoreConfig.cmake.in
  ${PROJECT_BINARY_DIR}/mintcoreConfig.cmake
  INSTALL_DESTINATION ${MINT_CMAKE_PACKAGE_DIR})
# The SONAME carries only the major version, so any release of the same major
# version serves a consumer built against an older one.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/mintcoreConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/mintcoreConfig.cmake ${PROJECT_BINARY_DIR}/mintcoreConfigVersion.cmake
  DESTINATION ${MINT_CMAKE_PACKAGE_DIR} COMPONENT dev)

# pkg-config: paths relative to the .pc file itself (${pcfiledir}), for the same
# reason, unless the user chose absolute directories.
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
  set(MINT_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
else()
  file(RELATIVE_PATH mint_pc_to_prefix "/${MINT_PKGCONFIG_DIR}" "/")
  string(REGEX REPLACE "/$" "" mint_pc_to_prefix "${mint_pc_to_prefix}")
  set(MINT_PC_PREFIX "\${pcfiledir}/${mint_pc_to_prefix}")
endif()
foreach(kind IN ITEMS LIBDIR INCLUDEDIR)
  if(IS_ABSOLUTE "${CMAKE_INSTALL_${kind}}")
    set(MINT_PC_${kind} "${CMAKE_INSTALL_${kind}}")
  else()
    set(MINT_PC_${kind} "\${prefix}/${CMAKE_INSTALL_${kind}}")
  endif()
endforeach()
configure_file(${CMAKE_CURRENT_LIST_DIR}/mintcore.pc.in ${PROJECT_BINARY_DIR}/mintcore.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/mintcore.pc DESTINATION ${MINT_PKGCONFIG_DIR} COMPONENT dev)

# The C interface: libmint with its SONAME and version links, mint.h, its own
# CMake package (mint::mint) and mint.pc, located the same relative way.
set(MINT_C_CMAKE_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/mint)
install(TARGETS mint EXPORT mintTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT c NAMELINK_COMPONENT dev
  PUBLIC_HEADER DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT dev)
install(EXPORT mintTargets NAMESPACE mint:: DESTINATION ${MINT_C_CMAKE_PACKAGE_DIR} COMPONENT dev)
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/mintConfig.cmake.in
  ${PROJECT_BINARY_DIR}/mintConfig.cmake
  INSTALL_DESTINATION ${MINT_C_CMAKE_PACKAGE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/mintConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/mintConfig.cmake ${PROJECT_BINARY_DIR}/mintConfigVersion.cmake
  DESTINATION ${MINT_C_CMAKE_PACKAGE_DIR} COMPONENT dev)
configure_file(${CMAKE_CURRENT_LIST_DIR}/mint.pc.in ${PROJECT_BINARY_DIR}/mint.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/mint.pc DESTINATION ${MINT_PKGCONFIG_DIR} COMPONENT dev)

# Each program comes with its man page, compressed as man-db reads it and
# Debian ships it (gzip -n: no name or time stamp, so the bytes depend on the
# page alone). The programs link their own copy of the library, so they need
# no run-time search path.
foreach(program IN ITEMS mintbatch mintsolo)
  if(TARGET ${program})
    set(man_page ${PROJECT_BINARY_DIR}/man/${program}.1.gz)
    add_custom_command(OUTPUT ${man_page}
      COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/man/${program}.1 ${PROJECT_BINARY_DIR}/man/${program}.1
      COMMAND gzip -9nf ${PROJECT_BINARY_DIR}/man/${program}.1
      DEPENDS ${PROJECT_SOURCE_DIR}/man/${program}.1
      COMMENT "Compressing the man page ${program}.1"
      VERBATIM)
    add_custom_target(${program}_man_page ALL DEPENDS ${man_page})
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tools)
    install(FILES ${man_page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT tools)
  endif()
endforeach()

# The licence travels with every install tree; each Debian package carries it
# in its own copyright file instead.
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT license)

include(${CMAKE_CURRENT_LIST_DIR}/packaging.cmake)
