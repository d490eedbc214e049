# Run by cpack after it made the tarballs: packs each again so that it can
# be unpacked as root at a device's root by any tar, GNU or small, without
# changing anything but its own files. The entries are files and links only:
# no folders, so that folders already there keep their owner and mode, and a
# tar makes missing ones as root would. Each is owned by 0/0, with mode 0755
# when it is executable and 0644 when not, whoever built it and whatever the
# umask.
foreach(tarball IN LISTS CPACK_PACKAGE_FILES)
  set(tree "${tarball}.tree")
  file(REMOVE_RECURSE "${tree}")
  file(MAKE_DIRECTORY "${tree}")
  execute_process(COMMAND tar -xzf "${tarball}" -C "${tree}" COMMAND_ERROR_IS_FATAL ANY)
  file(GLOB_RECURSE entries LIST_DIRECTORIES false RELATIVE "${tree}" "${tree}/*")
  list(SORT entries)
  execute_process(
    COMMAND tar --create --gzip --file "${tarball}" --format=ustar --no-recursion
      --owner=0 --group=0 --numeric-owner --mode=u=rwX,go=rX -C "${tree}" -- ${entries}
    COMMAND_ERROR_IS_FATAL ANY)
  file(REMOVE_RECURSE "${tree}")
endforeach()
