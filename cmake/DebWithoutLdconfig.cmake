# Run by CPack once the packages are made: drops the maintainer scripts that
# only call ldconfig (CPack writes them for the job modules in
# /usr/lib/quorvane/, which are loaded by path and never from the linker's
# cache), so that installing and removing the package runs nothing.
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  if(NOT package MATCHES "\\.deb$")
    continue()
  endif()
  set(tree ${CPACK_TOPLEVEL_DIRECTORY}/without-ldconfig)
  file(REMOVE_RECURSE ${tree})
  execute_process(COMMAND dpkg-deb -R ${package} ${tree} COMMAND_ERROR_IS_FATAL ANY)
  set(dropped FALSE)
  foreach(script postinst postrm)
    set(path ${tree}/DEBIAN/${script})
    if(EXISTS ${path})
      file(READ ${path} text)
      # Only scripts that do nothing but call ldconfig.
      string(REGEX REPLACE "#![^\n]*\n|set -e\n|if \\[ \"\\$1\" = \"(configure|remove)\" \\]; then\n|[ \t]*ldconfig\n|fi\n|\n" "" rest "${text}")
      if(rest STREQUAL "")
        file(REMOVE ${path})
        set(dropped TRUE)
      else()
        message(FATAL_ERROR "${script} of ${package} does more than call ldconfig:\n${text}")
      endif()
    endif()
  endforeach()
  if(dropped)
    execute_process(COMMAND dpkg-deb --root-owner-group -Zxz -b ${tree} ${package}
      OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
  endif()
  file(REMOVE_RECURSE ${tree})
endforeach()
