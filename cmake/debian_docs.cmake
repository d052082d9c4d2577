# Run by cpack after staging each package's files and before packing them
# (CPACK_PRE_BUILD_SCRIPTS): adds what every Debian package carries in
# /usr/share/doc/PACKAGE, its copyright file (Debian's machine-readable
# format, with the licence's text) and changelog.Debian.gz, and its lintian
# overrides (each explained in debian/*lintian-overrides). Nothing for the
# tarball, which holds the licence as installed.
if(NOT CPACK_GENERATOR STREQUAL "DEB")
  return()
endif()
# CPack leaves the last component's DESTDIR set; the paths here are whole.
unset(ENV{DESTDIR})

# The licence's text without its title and copyright line, as a License
# paragraph: each line indented by one space, an empty line as " .".
file(STRINGS "${CPACK_RESOURCE_FILE_LICENSE}" license_lines)
set(license_body "")
set(in_body OFF)
foreach(line IN LISTS license_lines)
  if(line MATCHES "^Permission is hereby granted")
    set(in_body ON)
  endif()
  if(in_body)
    if(line STREQUAL "")
      string(APPEND license_body " .\n")
    else()
      string(APPEND license_body " ${line}\n")
    endif()
  endif()
endforeach()
file(STRINGS "${CPACK_RESOURCE_FILE_LICENSE}" copyright_line REGEX "^Copyright ")
string(REGEX REPLACE "^Copyright (\\(c\\) )?" "" copyright_holders "${copyright_line}")
if(license_body STREQUAL "" OR copyright_holders STREQUAL "")
  message(FATAL_ERROR "No licence text or copyright line in ${CPACK_RESOURCE_FILE_LICENSE}")
endif()
# Debian's copyright format calls the MIT licence in this wording Expat.
set(copyright "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: ${CPACK_PACKAGE_NAME}

Files: *
Copyright: ${copyright_holders}
License: Expat
Comment: The MIT License, as in the file LICENSE of the source tree.

License: Expat
${license_body}")

# One entry for the version packaged, dated by SOURCE_DATE_EPOCH.
string(TIMESTAMP changelog_date "%a, %d %b %Y %H:%M:%S +0000" UTC)
set(version "${CPACK_PACKAGE_VERSION}-${CPACK_DEBIAN_PACKAGE_RELEASE}")
set(changelog "${CPACK_DEBIAN_PACKAGE_SOURCE} (${version}) unstable; urgency=medium

  * Release ${CPACK_PACKAGE_VERSION}, packaged from the source tree with CPack.

 -- ${CPACK_PACKAGE_CONTACT}  ${changelog_date}
")

foreach(component IN LISTS CPACK_COMPONENTS_ALL)
  string(TOUPPER "${component}" upper)
  set(package "${CPACK_DEBIAN_${upper}_PACKAGE_NAME}")
  set(root "${CPACK_TEMPORARY_DIRECTORY}/${component}")
  if(NOT package OR NOT IS_DIRECTORY "${root}")
    message(FATAL_ERROR "No package name or staged files for component ${component} (${root})")
  endif()
  set(doc "${root}/usr/share/doc/${package}")
  file(MAKE_DIRECTORY "${doc}")
  file(WRITE "${doc}/copyright" "${copyright}")
  file(WRITE "${doc}/changelog.Debian" "${changelog}")
  # -n: no name or time stamp in the compressed file.
  execute_process(COMMAND gzip -9nf "${doc}/changelog.Debian" RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "gzip ${doc}/changelog.Debian failed")
  endif()
  file(READ "${CPACK_MINT_DEBIAN_DIR}/lintian-overrides" overrides)
  if(package MATCHES "^lib.*[0-9]$")
    file(READ "${CPACK_MINT_DEBIAN_DIR}/shared-library/lintian-overrides" library_overrides)
    string(APPEND overrides "${library_overrides}")
  endif()
  set(overrides_dir "${root}/usr/share/lintian/overrides")
  file(MAKE_DIRECTORY "${overrides_dir}")
  file(WRITE "${overrides_dir}/${package}" "${overrides}")
  # Modes as Debian wants them, whatever the umask of whoever packages.
  file(CHMOD "${doc}/copyright" "${doc}/changelog.Debian.gz" "${overrides_dir}/${package}" PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
  foreach(dir IN ITEMS usr usr/share usr/share/doc "usr/share/doc/${package}" usr/share/lintian usr/share/lintian/overrides)
    if(IS_DIRECTORY "${root}/${dir}")
      file(CHMOD "${root}/${dir}" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
    endif()
  endforeach()
endforeach()
