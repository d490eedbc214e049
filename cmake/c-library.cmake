# SPDX-License-Identifier: MIT
# The target's C library, read from its own headers by compiling a probe
# with the build's compilers and flags: vorn_glibc_version(VAR) sets VAR to
# glibc's version (2.31, say), or to "none" when the C library is another
# (musl, or uClibc-ng, which calls itself glibc 2.2 in its headers).
function(vorn_glibc_version out)
  set(probe_dir ${PROJECT_BINARY_DIR}/c-library-probe)
  file(WRITE ${probe_dir}/probe.c [[
#include <features.h>
#define TEXT(x) #x
#define VERSION(major, minor) TEXT(major) "." TEXT(minor)
#if defined(__GLIBC__) && !defined(__UCLIBC__)
const char vorn_c_library[] = "vorn-c-library:" VERSION(__GLIBC__, __GLIBC_MINOR__);
#else
const char vorn_c_library[] = "vorn-c-library:none";
#endif
int main(int argc, char **argv) {
  (void)argv;
  return vorn_c_library[argc];
}
]])
  try_compile(probe_built ${probe_dir}/build SOURCES ${probe_dir}/probe.c
    COPY_FILE ${probe_dir}/probe OUTPUT_VARIABLE probe_output)
  if(NOT probe_built)
    message(FATAL_ERROR "Could not compile a program for the target to read its C library's "
      "version:\n${probe_output}")
  endif()
  file(STRINGS ${probe_dir}/probe found REGEX "^vorn-c-library:")
  string(REGEX REPLACE "^vorn-c-library:" "" version "${found}")
  if(version STREQUAL "none")
    message(STATUS "The target's C library is not glibc: vorn's glibc symbol versions are not checked")
  else()
    message(STATUS "The target's glibc is ${version}: vorn may need its symbol versions up to ${version}")
  endif()
  set(${out} ${version} PARENT_SCOPE)
endfunction()
