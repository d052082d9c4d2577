# Run by `cmake --install` (component postgresql): puts the module into the
# server's library directory and the control and SQL files into its
# extension directory, both absolute. A whole-tree install that may not write
# there, such as a user's install into a prefix of their own, leaves the
# extension out and says how to install it; asked for by name
# (--component postgresql), the extension is installed or the install fails.
# Set by the caller: mint_pg_module, mint_pg_source_dir, mint_pg_pkglibdir,
# mint_pg_extensiondir, mint_pg_strip (the strip program, for
# `cmake --install --strip` and the packages).
if(NOT CMAKE_INSTALL_COMPONENT)
  foreach(dir IN ITEMS "${mint_pg_pkglibdir}" "${mint_pg_extensiondir}")
    # The directory, or the nearest one above it that exists, must be writable.
    set(probe "$ENV{DESTDIR}${dir}")
    while(NOT EXISTS "${probe}")
      get_filename_component(probe "${probe}" DIRECTORY)
    endwhile()
    execute_process(COMMAND test -w "${probe}" RESULT_VARIABLE not_writable)
    if(not_writable)
      message(STATUS "Not installing the PostgreSQL extension: ${probe} is not writable. "
        "Install it with: sudo cmake --install <build dir> --component postgresql")
      return()
    endif()
  endforeach()
endif()
file(INSTALL DESTINATION "${mint_pg_pkglibdir}" TYPE MODULE FILES "${mint_pg_module}")
if(CMAKE_INSTALL_DO_STRIP AND mint_pg_strip)
  get_filename_component(module_name "${mint_pg_module}" NAME)
  execute_process(COMMAND "${mint_pg_strip}" "$ENV{DESTDIR}${mint_pg_pkglibdir}/${module_name}" RESULT_VARIABLE strip_status)
  if(NOT strip_status EQUAL 0)
    message(FATAL_ERROR "Stripping ${module_name} failed")
  endif()
endif()
file(INSTALL DESTINATION "${mint_pg_extensiondir}" TYPE FILE
  FILES "${mint_pg_source_dir}/mint.control" "${mint_pg_source_dir}/mint--1.0.sql")
