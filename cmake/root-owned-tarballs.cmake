# Run by cpack after it made the tarballs: packs each again so that it can
# be unpacked as root at a device's root by any tar, GNU or small, without
# changing anything but its own files. The entries are files and links only:
# no folders, so that folders already there keep their owner and mode, and a
# tar makes missing ones as root would. Each is owned by 0/0, with mode 0755
# when it is executable and 0644 when not, whoever built it and whatever the
# umask. Each is dated SOURCE_DATE_EPOCH when the caller sets it, else the
# time of the commit built, else the start of 1970 (a source tree that is no
# checkout), so that two builds of one commit give the same bytes.
set(epoch 0)
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(epoch "$ENV{SOURCE_DATE_EPOCH}")
else()
  execute_process(COMMAND git -C "${CPACK_VORN_SOURCE_DIR}" rev-parse --show-toplevel
    OUTPUT_VARIABLE checkout OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE not_a_checkout ERROR_QUIET)
  file(REAL_PATH "${CPACK_VORN_SOURCE_DIR}" source_dir)
  if(NOT not_a_checkout AND checkout STREQUAL source_dir)
    execute_process(COMMAND git -C "${checkout}" log -1 --format=%ct
      OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
  endif()
endif()
foreach(tarball IN LISTS CPACK_PACKAGE_FILES)
  set(tree "${tarball}.tree")
  file(REMOVE_RECURSE "${tree}")
  file(MAKE_DIRECTORY "${tree}")
  execute_process(COMMAND tar -xzf "${tarball}" -C "${tree}" COMMAND_ERROR_IS_FATAL ANY)
  file(GLOB_RECURSE entries LIST_DIRECTORIES false RELATIVE "${tree}" "${tree}/*")
  list(SORT entries)
  # gzip -n: no name or time of its own in its header.
  execute_process(
    COMMAND tar --create --file - --format=ustar --no-recursion --owner=0 --group=0
      --numeric-owner --mode=u=rwX,go=rX --mtime=@${epoch} -C "${tree}" -- ${entries}
    COMMAND gzip -n -9
    OUTPUT_FILE "${tarball}"
    COMMAND_ERROR_IS_FATAL ANY)
  file(REMOVE_RECURSE "${tree}")
endforeach()
