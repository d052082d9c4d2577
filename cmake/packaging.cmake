# Packages of what the install rules put in place, built in the build
# directory with `cpack` (or the `package` target):
#
# - Debian packages, split as Debian splits a library and its users, one per
#   install component: libmintcore1 and libmint1 (the run-time libraries),
#   libmintcore-dev (headers, CMake packages, pkg-config files, .so links),
#   mint-tools (the programs and their man pages), and python3-mint and
#   postgresql-NN-mint where those are built. Each carries its copyright file
#   and changelog.Debian.gz (written while packaging: debian_docs.cmake).
# - A tarball of the install tree: everything but the PostgreSQL extension,
#   whose directories are the server's own, absolute ones.
#
# Both are reproducible: file times are SOURCE_DATE_EPOCH, the time of the
# last commit unless it is set (CPackProjectConfig.cmake.in), and nothing in
# them names the build machine's directories.
#
# lintian finds no error and no warning in the Debian packages (the packages
# test runs it); the warnings it would give are explained in the overrides
# each package ships (debian/*lintian-overrides). What it still reports at
# its info and pedantic levels stays, for these reasons:
# - binary-has-unneeded-section .comment: CMake strips with plain `strip`,
#   which keeps the compilers' version notes; harmless.
# - no-symbols-control-file for libmintcore1: its functions are C++ names
#   without a version node (as the libraries it stands in for export them),
#   and the shlibs file gives the dependency. libmint1 ships a symbols file
#   (debian/libmint1/symbols): each function with its version node and the
#   release that brought it, so that a program needs only the release whose
#   functions it calls.
# - hardening-no-fortify-functions for the PostgreSQL module: it is built
#   with _FORTIFY_SOURCE=2 (it calls __explicit_bzero_chk), but calls none of
#   the fortified functions lintian looks for.
# - repeated-path-segment lib: PostgreSQL's own /usr/lib/postgresql/15/lib.

# The Maintainer field names whoever answers for the packages, with a name and
# an e-mail address (Debian policy 5.6.2). A package built from this tree is
# maintained by whoever builds it, found as Debian's own tools find them:
# DEBFULLNAME and DEBEMAIL, else git's user.name and user.email for this tree;
# where no identity is configured (a fresh machine, a CI box), the author of
# the commit the packages are built from. Never an invented address.
set(MINT_PACKAGE_MAINTAINER "" CACHE STRING
  "Maintainer of the Debian packages, \"Name <address>\" (empty: DEBFULLNAME/DEBEMAIL, git's user, or the last commit's author)")
function(mint_find_maintainer out)
  set(name "$ENV{DEBFULLNAME}")
  set(address "$ENV{DEBEMAIL}")
  # DEBEMAIL may hold both, as "Name <address>".
  if(address MATCHES "^(.*[^ ]) *<(.*)>$")
    if(NOT name)
      set(name "${CMAKE_MATCH_1}")
    endif()
    set(address "${CMAKE_MATCH_2}")
  endif()
  find_package(Git QUIET)
  if(GIT_EXECUTABLE)
    foreach(git_query IN ITEMS "config;user.name" "config;user.email" "log;-1;--format=%an" "log;-1;--format=%ae")
      if(git_query MATCHES "name|%an")
        set(field name)
      else()
        set(field address)
      endif()
      if(NOT ${field})
        execute_process(COMMAND "${GIT_EXECUTABLE}" -C "${PROJECT_SOURCE_DIR}" ${git_query}
          OUTPUT_VARIABLE ${field} OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
      endif()
    endforeach()
  endif()
  if(name AND address)
    set(${out} "${name} <${address}>" PARENT_SCOPE)
  else()
    set(${out} "" PARENT_SCOPE)
  endif()
endfunction()
if(MINT_PACKAGE_MAINTAINER)
  set(MINT_PACKAGE_MAINTAINER_IN_USE "${MINT_PACKAGE_MAINTAINER}")
else()
  mint_find_maintainer(MINT_PACKAGE_MAINTAINER_IN_USE)
endif()
if(NOT MINT_PACKAGE_MAINTAINER_IN_USE MATCHES "^[^<>@]*[^<>@ ] <[^<>@ ]+@[^<>@ ]+>$")
  message(WARNING "The Debian packages need a maintainer as \"Name <address>\", not '${MINT_PACKAGE_MAINTAINER_IN_USE}': "
    "set MINT_PACKAGE_MAINTAINER, or DEBFULLNAME and DEBEMAIL")
endif()

set(CPACK_PACKAGE_NAME mint)
set(CPACK_PACKAGE_VENDOR "mint developers")
set(CPACK_PACKAGE_CONTACT "${MINT_PACKAGE_MAINTAINER_IN_USE}")
set(CPACK_GENERATOR "DEB;TGZ")
# Release packages carry no debug information, and with it no paths of the
# machine that built them.
set(CPACK_STRIP_FILES ON)
# Directories the install rules create, whatever the umask of whoever packages.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

# The packages and the install components they hold (see install.cmake).
set(mint_packaged_components core c dev tools)
if(MINT_PYTHON_VERSION)
  list(APPEND mint_packaged_components python)
endif()
if(MINT_POSTGRESQL_MAJOR)
  list(APPEND mint_packaged_components postgresql)
endif()
set(CPACK_COMPONENTS_ALL ${mint_packaged_components})

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# A Debian revision: the packaging of one release may change on its own.
set(MINT_PACKAGE_RELEASE 1 CACHE STRING "Debian revision of the packages (the N in ${PROJECT_VERSION}-N)")
set(CPACK_DEBIAN_PACKAGE_RELEASE ${MINT_PACKAGE_RELEASE})
set(mint_deb_version "${PROJECT_VERSION}-${MINT_PACKAGE_RELEASE}")
set(CPACK_DEBIAN_PACKAGE_SOURCE mint)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Depends: computed from the binaries with dpkg-shlibdeps. Each library
# package gets a shlibs file, so that packages built against it depend on
# this version or later, and activates ldconfig.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

# Each description's first line is its package's synopsis; the paragraphs
# after it are indented by CPack.
set(mint_about "mint derives a deterministic 12-character patient identifier with SHA-256
from a patient's name, SSN, gender and date of birth, or, for a patient
without an SSN, from the patient's data together with the policy holder's.
The identifier is a pseudonym, not anonymisation: treat it as personal data.")

set(CPACK_DEBIAN_CORE_PACKAGE_NAME libmintcore1)
set(CPACK_DEBIAN_CORE_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_CORE_DESCRIPTION "deterministic patient identifiers - C++ library
${mint_about}

This package holds the shared library libmintcore, which programs in C++
use to derive identifiers.")

# The libraries activate ldconfig's trigger, as Debian's library packages do.
set(mint_shared_library_control
  ${CMAKE_CURRENT_LIST_DIR}/debian/shared-library/triggers
  ${CMAKE_CURRENT_LIST_DIR}/debian/shared-library/postinst
  ${CMAKE_CURRENT_LIST_DIR}/debian/shared-library/postrm)
set(CPACK_DEBIAN_CORE_PACKAGE_CONTROL_EXTRA ${mint_shared_library_control})

set(CPACK_DEBIAN_C_PACKAGE_NAME libmint1)
set(CPACK_DEBIAN_C_PACKAGE_CONTROL_EXTRA ${mint_shared_library_control} ${CMAKE_CURRENT_LIST_DIR}/debian/libmint1/symbols)
set(CPACK_DEBIAN_C_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_C_DESCRIPTION "deterministic patient identifiers - C interface library
${mint_about}

This package holds the shared library libmint, the C interface through
which programs in any language that can call C derive identifiers.")

set(CPACK_DEBIAN_DEV_PACKAGE_NAME libmintcore-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
# The .so links and the CMake packages name these very builds of the libraries.
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "libmintcore1 (= ${mint_deb_version}), libmint1 (= ${mint_deb_version})")
set(CPACK_DEBIAN_DEV_DESCRIPTION "deterministic patient identifiers - development files
${mint_about}

This package holds what building against libmintcore (C++) and libmint
(C) needs: the headers mintcore.h and mint.h, the CMake packages mintcore
and mint, the pkg-config files mintcore.pc and mint.pc, and the links
libmintcore.so and libmint.so.")

set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME mint-tools)
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_TOOLS_DESCRIPTION "deterministic patient identifiers - command-line programs
${mint_about}

This package holds the programs mintbatch, which adds identifiers to a CSV
file of records, and mintsolo, which prints the identifier of one record
file, with their manual pages, and where it is built the page
/usr/share/mint/mint.html, which does what mintbatch does in a web browser,
offline, without sending the file anywhere.")

if(MINT_PYTHON_VERSION)
  # The extension module is built for one Python version, the one Debian's
  # python3 is; dh_python3 words the dependency so.
  string(REGEX REPLACE "^([0-9]+)\\.([0-9]+)$" "\\1" mint_python_major "${MINT_PYTHON_VERSION}")
  string(REGEX REPLACE "^([0-9]+)\\.([0-9]+)$" "\\2" mint_python_minor "${MINT_PYTHON_VERSION}")
  math(EXPR mint_python_minor "${mint_python_minor} + 1")
  set(CPACK_DEBIAN_PYTHON_PACKAGE_NAME python3-mint)
  set(CPACK_DEBIAN_PYTHON_PACKAGE_SECTION python)
  set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS
    "python3 (>= ${MINT_PYTHON_VERSION}~), python3 (<< ${mint_python_major}.${mint_python_minor})")
  set(CPACK_DEBIAN_PYTHON_PACKAGE_SUGGESTS "python3-pandas, python3-dask, python3-distributed")
  set(CPACK_DEBIAN_PYTHON_DESCRIPTION "deterministic patient identifiers - Python 3 package
${mint_about}

This package holds the Python 3 package mint: identifiers for one record,
for whole columns of a pandas DataFrame, and for a Dask DataFrame. pandas
and Dask are needed only by the parts that use them.")
  # Byte-compiles the package after installing and removes the compiled
  # files before removing it, as Debian's Python packages do.
  set(CPACK_DEBIAN_PYTHON_PACKAGE_CONTROL_EXTRA
    ${CMAKE_CURRENT_LIST_DIR}/debian/python3-mint/postinst
    ${CMAKE_CURRENT_LIST_DIR}/debian/python3-mint/prerm)
endif()

if(MINT_POSTGRESQL_MAJOR)
  set(CPACK_DEBIAN_POSTGRESQL_PACKAGE_NAME postgresql-${MINT_POSTGRESQL_MAJOR}-mint)
  set(CPACK_DEBIAN_POSTGRESQL_PACKAGE_SECTION database)
  set(CPACK_DEBIAN_POSTGRESQL_PACKAGE_DEPENDS postgresql-${MINT_POSTGRESQL_MAJOR})
  set(CPACK_DEBIAN_POSTGRESQL_DESCRIPTION "deterministic patient identifiers - PostgreSQL ${MINT_POSTGRESQL_MAJOR} extension
${mint_about}

This package holds the PostgreSQL extension mint, whose functions
mint_uuid and mint_uuid_problem derive identifiers in SQL, for PostgreSQL
${MINT_POSTGRESQL_MAJOR}.")
endif()

# Per generator and at packaging time: the time stamp, the Debian-only
# documents, and what the tarball holds.
configure_file(${CMAKE_CURRENT_LIST_DIR}/CPackProjectConfig.cmake.in ${PROJECT_BINARY_DIR}/CPackProjectConfig.cmake @ONLY)
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_BINARY_DIR}/CPackProjectConfig.cmake)
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/debian_docs.cmake)
# For debian_docs.cmake, which runs inside cpack and sees only CPACK_ variables.
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_MINT_DEBIAN_DIR ${CMAKE_CURRENT_LIST_DIR}/debian)

set(CPACK_SOURCE_GENERATOR TGZ)
set(CPACK_SOURCE_IGNORE_FILES "/\\\\.git" "/build/")

include(CPack)
