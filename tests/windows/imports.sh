# A Windows program needs nothing beside Windows' own DLLs (KERNEL32, WINMM,
# WS2_32 for --rigctl, and the C run-time that Windows ships), is built for
# its architecture, and holds its texts only scrambled.
set -eu
exe=$1/rxmon.exe
format=$([ "$RXMON_WIN_ARCH" = win32 ] && echo pei-i386 || echo pei-x86-64)
objdump -f "$exe" | grep -q "file format $format\$" || { echo "$exe is not $format"; exit 1; }
dlls=$(objdump -p "$exe" | awk '/DLL Name:/ {print toupper($3)}' | sort | tr '\n' ' ')
[ "$dlls" = "KERNEL32.DLL MSVCRT.DLL WINMM.DLL WS2_32.DLL " ] || { echo "unexpected imports of $exe: $dlls"; exit 1; }
! strings -n 5 "$exe" | grep -qF -e "[Autobaud]" -e "no communication with scanner" || { echo "plain text in $exe"; exit 1; }
