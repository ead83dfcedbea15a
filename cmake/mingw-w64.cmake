# SPDX-License-Identifier: LGPL-2.1-or-later
# Cross-build for 64-bit Windows with Debian's mingw-w64 (posix threading
# model: std::thread and std::mutex come from winpthreads).
#
# Every program and DLL links the C and C++ runtimes and winpthreads
# statically (-static), so that lyralink.dll and the .exe files need no
# DLL beside them but the system's own (KERNEL32, msvcrt, WS2_32, ...).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(LYRALINK_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${LYRALINK_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${LYRALINK_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${LYRALINK_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${LYRALINK_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")
