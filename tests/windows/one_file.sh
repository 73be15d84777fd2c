#!/bin/bash
# Quorvane.ocx is the one file to ship: it needs no DLL beyond the system's own (the compiler's
# runtime, zlib and the rest are linked in) and exports the four entry points of a COM server only.
#   one_file.sh <objdump> <Quorvane.ocx>
set -u
objdump=$1 ocx=$2
status=0
imports=$("$objdump" -p "$ocx" | awk '/DLL Name:/ {print toupper($3)}' | sort -u)
for dll in $imports; do
  case $dll in
    ADVAPI32.DLL | GDI32.DLL | KERNEL32.DLL | OLE32.DLL | OLEAUT32.DLL | USER32.DLL | MSVCRT.DLL) ;;
    *) echo "one_file: Quorvane.ocx needs $dll, which Windows does not have"; status=1 ;;
  esac
done
exports=$("$objdump" -p "$ocx" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | awk '/\[/ && !/Table/ {print $NF}' | tr '\n' ' ')
if [ "$exports" != "DllCanUnloadNow DllGetClassObject DllRegisterServer DllUnregisterServer " ]; then
  echo "one_file: Quorvane.ocx exports: $exports"
  status=1
fi
[ $status -eq 0 ] && echo "one_file: system DLLs only ($(echo $imports | tr '\n' ' ')); the four entry points"
exit $status
