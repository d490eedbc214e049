# SPDX-License-Identifier: MIT
# Run by cpack (its External generator) once it has staged each component's
# install in a folder of its own: packs each as the tarball that
# CPACK_ARCHIVE_<COMPONENT>_FILE_NAME names, to be unpacked as root at a
# device's root by any tar, GNU or small, without changing anything but its
# own files. The entries are files and links only: no folders, so that
# folders already there keep their owner and mode, and a tar makes missing
# ones as root would. Each is owned by 0/0, with mode 0755 when it is
# executable and 0644 when not, whoever built it and whatever the umask.
# Each is dated SOURCE_DATE_EPOCH when the caller sets it, else the time of
# the commit built, else the start of 1970 (a source tree that is no
# checkout), so that two builds of one commit give the same bytes.
function(vorn_fail what result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "${what} failed: ${result}")
  endif()
endfunction()

set(epoch 0)
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(epoch "$ENV{SOURCE_DATE_EPOCH}")
else()
  execute_process(COMMAND git -C "${CPACK_VORN_SOURCE_DIR}" rev-parse --show-toplevel
    OUTPUT_VARIABLE checkout OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE not_a_checkout ERROR_QUIET)
  get_filename_component(source_dir "${CPACK_VORN_SOURCE_DIR}" REALPATH)
  if(NOT not_a_checkout AND checkout STREQUAL source_dir)
    execute_process(COMMAND git -C "${checkout}" log -1 --format=%ct
      OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE result)
    vorn_fail("git log" "${result}")
  endif()
endif()
# Packs the staged tree at `tree` as NAME.tar.gz, and adds it to `built`.
set(built "")
function(vorn_pack tree name)
  set(tarball "${CPACK_PACKAGE_DIRECTORY}/${name}.tar.gz")
  file(GLOB_RECURSE entries LIST_DIRECTORIES false RELATIVE "${tree}" "${tree}/*")
  list(SORT entries)
  # gzip -n: no name or time of its own in its header.
  execute_process(
    COMMAND tar --create --file - --format=ustar --no-recursion --owner=0 --group=0
      --numeric-owner --mode=u=rwX,go=rX --mtime=@${epoch} -C "${tree}" -- ${entries}
    COMMAND gzip -n -9
    OUTPUT_FILE "${tarball}"
    RESULTS_VARIABLE results)
  foreach(result IN LISTS results)
    vorn_fail("packing ${tarball}" "${result}")
  endforeach()
  message(STATUS "Packed ${tarball}")
  set(built ${built} "${tarball}" PARENT_SCOPE)
endfunction()

# cpack stages each component in a folder of its own, or, when there is one
# only (vorn, in a build for the device), the install as a whole.
foreach(component IN LISTS CPACK_COMPONENTS_ALL)
  string(TOUPPER "${component}" upper)
  vorn_pack("${CPACK_TEMPORARY_DIRECTORY}/${component}" "${CPACK_ARCHIVE_${upper}_FILE_NAME}")
endforeach()
if(NOT CPACK_COMPONENTS_ALL)
  vorn_pack("${CPACK_TEMPORARY_DIRECTORY}" "${CPACK_PACKAGE_FILE_NAME}")
endif()
set(CPACK_EXTERNAL_BUILT_PACKAGES ${built})
