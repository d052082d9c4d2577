# Packages of everything the install rules put in place: a Debian package and
# a tarball, built in the build directory with `cpack` (or the `package` target).
set(MINT_PACKAGE_CONTACT "mint developers <mint@localhost>" CACHE STRING
  "Maintainer named in the Debian package")

set(CPACK_PACKAGE_NAME mint)
set(CPACK_PACKAGE_VENDOR "mint developers")
set(CPACK_PACKAGE_CONTACT "${MINT_PACKAGE_CONTACT}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_GENERATOR "DEB;TGZ")
# Release packages carry no debug information, and with it no paths of the
# machine that built them.
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
# The summary line comes first on its own; CPack indents these paragraphs.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "mint derives a deterministic 12-character patient identifier with SHA-256
from a patient's name, SSN, gender and date of birth, or, for a patient
without an SSN, from the patient's data together with the policy holder's.

This package holds the shared library libmintcore with its header, CMake
package and pkg-config file, the same for libmint (its C interface, for
callers in any language), and the programs mintbatch (adds identifiers
to a CSV file) and mintsolo (prints the identifier of one record).

The identifier is a pseudonym, not anonymisation: treat it as personal data.")
# Depends: computed from the binaries; the library's shlibs entry lets packages
# built against it depend on this version or later.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

# The packages hold the default component: the library and the programs. The
# PostgreSQL extension (component postgresql) installs into one server
# version's absolute directories, so it is not part of them.
set(CPACK_INSTALL_CMAKE_PROJECTS "${PROJECT_BINARY_DIR};${PROJECT_NAME};Unspecified;/")

set(CPACK_SOURCE_GENERATOR TGZ)
set(CPACK_SOURCE_IGNORE_FILES "/\\\\.git" "/build/")

include(CPack)
