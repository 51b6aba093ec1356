# Run by CPack once it has made the packages (CPACK_POST_BUILD_SCRIPTS). CPack gives a package with
# shared libraries under /usr/lib a postinst and a postrm that only run ldconfig, which the runtime
# package's ldconfig trigger does already; and a package with a postrm stays in dpkg's database
# after `dpkg -r` (state config-files) until it is purged. Those two scripts are taken out here.
find_program(KV4_DPKG_DEB dpkg-deb REQUIRED)
foreach(deb IN LISTS CPACK_PACKAGE_FILES)
  set(tree ${deb}.tree)
  file(REMOVE_RECURSE ${tree})
  execute_process(COMMAND ${KV4_DPKG_DEB} --raw-extract ${deb} ${tree} COMMAND_ERROR_IS_FATAL ANY)
  set(dropped FALSE)
  foreach(script postinst postrm)
    set(path ${tree}/DEBIAN/${script})
    if(EXISTS ${path})
      file(STRINGS ${path} commands REGEX "^[ \t]*[a-z]")
      # CPack's own: set -e, an if on the action, ldconfig, fi.
      if(commands MATCHES "^set -e;if .*;[ \t]*ldconfig;fi$")
        file(REMOVE ${path})
        set(dropped TRUE)
      endif()
    endif()
  endforeach()
  if(dropped)
    execute_process(COMMAND ${KV4_DPKG_DEB} --root-owner-group -Zgzip --build ${tree} ${deb}
                    OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
  endif()
  file(REMOVE_RECURSE ${tree})
endforeach()
