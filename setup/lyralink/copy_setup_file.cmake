# SPDX-License-Identifier: LGPL-2.1-or-later
# cmake -DSOURCE=<file> -DTARGET=<file> [-DRPATH=<path>] -P copy_setup_file.cmake
# Copies one file into the setup directory. A program or library of the
# build tree has its build RPATH (absolute paths into the build); the copy
# gets RPATH instead, relative to where the setup script puts it.
file(COPY_FILE "${SOURCE}" "${TARGET}" ONLY_IF_DIFFERENT)
if(DEFINED RPATH)
  file(READ_ELF "${TARGET}" RPATH old_rpath RUNPATH old_runpath CAPTURE_ERROR not_elf)
  if(NOT not_elf AND (old_rpath OR old_runpath))
    file(RPATH_SET FILE "${TARGET}" NEW_RPATH "${RPATH}")
  endif()
endif()
