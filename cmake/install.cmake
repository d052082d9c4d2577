# What `cmake --install` puts in place: the shared library with its SONAME and
# version links, its header, a CMake package (mintcore::mintcore), a pkg-config
# file, the same four for the C interface (libmint, mint.h, mint::mint,
# mint.pc), and the two programs with their man pages. Included at the end of the
# top-level CMakeLists.txt, so every target it names exists by then.
include(CMakePackageConfigHelpers)

set(MINT_CMAKE_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/mintcore)
set(MINT_PKGCONFIG_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

install(TARGETS mintcore EXPORT mintcoreTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  PUBLIC_HEADER DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

# The exported targets locate themselves relative to their own file, so the
# package keeps working wherever the tree is installed or unpacked.
install(EXPORT mintcoreTargets NAMESPACE mintcore:: DESTINATION ${MINT_CMAKE_PACKAGE_DIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/mintcoreConfig.cmake.in
  ${PROJECT_BINARY_DIR}/mintcoreConfig.cmake
  INSTALL_DESTINATION ${MINT_CMAKE_PACKAGE_DIR})
# The SONAME carries only the major version, so any release of the same major
# version serves a consumer built against an older one.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/mintcoreConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/mintcoreConfig.cmake ${PROJECT_BINARY_DIR}/mintcoreConfigVersion.cmake
  DESTINATION ${MINT_CMAKE_PACKAGE_DIR})

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
install(FILES ${PROJECT_BINARY_DIR}/mintcore.pc DESTINATION ${MINT_PKGCONFIG_DIR})

# The C interface: libmint with its SONAME and version links, mint.h, its own
# CMake package (mint::mint) and mint.pc, located the same relative way.
set(MINT_C_CMAKE_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/mint)
install(TARGETS mint EXPORT mintTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  PUBLIC_HEADER DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(EXPORT mintTargets NAMESPACE mint:: DESTINATION ${MINT_C_CMAKE_PACKAGE_DIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/mintConfig.cmake.in
  ${PROJECT_BINARY_DIR}/mintConfig.cmake
  INSTALL_DESTINATION ${MINT_C_CMAKE_PACKAGE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/mintConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/mintConfig.cmake ${PROJECT_BINARY_DIR}/mintConfigVersion.cmake
  DESTINATION ${MINT_C_CMAKE_PACKAGE_DIR})
configure_file(${CMAKE_CURRENT_LIST_DIR}/mint.pc.in ${PROJECT_BINARY_DIR}/mint.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/mint.pc DESTINATION ${MINT_PKGCONFIG_DIR})

# Each program comes with its man page. The programs link their own copy of
# the library, so they need no run-time search path.
foreach(program IN ITEMS mintbatch mintsolo)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    install(FILES ${PROJECT_SOURCE_DIR}/man/${program}.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  endif()
endforeach()

include(${CMAKE_CURRENT_LIST_DIR}/packaging.cmake)
