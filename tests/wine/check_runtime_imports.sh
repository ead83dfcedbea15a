#!/bin/sh
# SPDX-License-Identifier: LGPL-2.1-or-later
# check_runtime_imports.sh OBJDUMP FILE...
# The Windows programs and DLLs link the C, C++ and thread runtimes
# statically: each may import from the system's DLLs and from the
# project's own lyralink.dll, never from a compiler runtime DLL
# (libstdc++-6.dll, libgcc_s_seh-1.dll, libwinpthread-1.dll) that a
# Windows machine does not have.
set -eu
objdump="$1"; shift
status=0
for file in "$@"; do
  imports=$("$objdump" -p "$file" | sed -n 's/^[[:space:]]*DLL Name: //p')
  for dll in $imports; do
    case "$(printf '%s' "$dll" | tr 'A-Z' 'a-z')" in
      lib*.dll) echo "$(basename "$file") imports the runtime DLL $dll"; status=1 ;;
    esac
  done
  echo "$(basename "$file"): $(echo $imports)"
done
exit $status
