# Run by `cmake --install` (component postgresql): puts the module and the
# control and SQL files where the server finds them, never outside the
# install's prefix (and DESTDIR). When the server's directories (as pg_config
# gives them, or as a package build sets them) lie within the prefix, as for
# the Debian package with prefix /usr, they are used; otherwise the same
# directories are laid out below the prefix, where Debian's extension_destdir
# setting (or dynamic_library_path for the module) points the server, and a
# message says so.
# Set by the caller: mint_pg_module, mint_pg_source_dir, mint_pg_pkglibdir,
# mint_pg_extensiondir, mint_pg_strip (the strip program, for
# `cmake --install --strip` and the packages).
set(prefix "${CMAKE_INSTALL_PREFIX}")
string(REGEX REPLACE "(.)/+$" "\\1" prefix "${prefix}")
set(within_prefix ON)
foreach(dir IN ITEMS "${mint_pg_pkglibdir}" "${mint_pg_extensiondir}")
  string(FIND "${dir}/" "${prefix}/" at)
  if(NOT prefix STREQUAL "/" AND NOT at EQUAL 0)
    set(within_prefix OFF)
  endif()
endforeach()
if(within_prefix)
  set(pkglibdir "${mint_pg_pkglibdir}")
  set(extensiondir "${mint_pg_extensiondir}")
else()
  set(pkglibdir "${prefix}${mint_pg_pkglibdir}")
  set(extensiondir "${prefix}${mint_pg_extensiondir}")
  message(STATUS "The PostgreSQL extension goes below the prefix ${prefix}, not into the server's own "
    "directories. Point the server at it in postgresql.conf: extension_destdir = '${prefix}' "
    "(Debian's PostgreSQL; for other builds copy ${extensiondir}/mint* to ${mint_pg_extensiondir}) "
    "and, for shared_preload_libraries = 'mint', dynamic_library_path = '${pkglibdir}:$libdir'.")
endif()
file(INSTALL DESTINATION "${pkglibdir}" TYPE MODULE FILES "${mint_pg_module}")
if(CMAKE_INSTALL_DO_STRIP AND mint_pg_strip)
  get_filename_component(module_name "${mint_pg_module}" NAME)
  execute_process(COMMAND "${mint_pg_strip}" "$ENV{DESTDIR}${pkglibdir}/${module_name}" RESULT_VARIABLE strip_status)
  if(NOT strip_status EQUAL 0)
    message(FATAL_ERROR "Stripping ${module_name} failed")
  endif()
endif()
file(INSTALL DESTINATION "${extensiondir}" TYPE FILE
  FILES "${mint_pg_source_dir}/mint.control" "${mint_pg_source_dir}/mint--1.0.sql"
        "${mint_pg_source_dir}/mint--1.0--1.1.sql")
