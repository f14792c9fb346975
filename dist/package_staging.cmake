# SPDX-License-Identifier: MIT
# Run by cpack on the staging folder before it is packed.
#
# The folders there were made under the packer's umask, and dpkg creates them with the modes they have in the
# package: 0077 would leave the operator with folders under /usr that only root may read. A package's folders
# are 0755 whoever packs it; the files already have theirs from the install rules.
file(GLOB_RECURSE entries LIST_DIRECTORIES true "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*")
set(folders "${CPACK_TEMPORARY_INSTALL_DIRECTORY}")
foreach(entry IN LISTS entries)
  if(IS_DIRECTORY "${entry}" AND NOT IS_SYMLINK "${entry}")
    list(APPEND folders "${entry}")
  endif()
endforeach()
file(CHMOD ${folders} DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

# The programs stripped as Debian's dh_strip strips them: cpack's own stripping leaves the compiler's
# .comment and the .note section, which lintian reports as unneeded.
foreach(entry IN LISTS entries)
  if(IS_DIRECTORY "${entry}" OR IS_SYMLINK "${entry}")
    continue()
  endif()
  file(READ "${entry}" magic LIMIT 4 HEX)
  if(magic STREQUAL "7f454c46")
    execute_process(COMMAND "${CPACK_MEROVASK_STRIP}" --remove-section=.comment --remove-section=.note "${entry}"
      COMMAND_ERROR_IS_FATAL ANY)
  endif()
endforeach()
