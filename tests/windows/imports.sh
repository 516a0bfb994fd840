# Both Windows programs need nothing beside Windows' own DLLs (KERNEL32,
# WINMM and the C run-time that Windows ships), and hold their texts only
# scrambled. The i686 one, the program handed out, cannot run here.
set -eu
win64=$1 win32=${3:?the i686 build tree}
objdump -f "$win32/rxmon.exe" | grep -q "file format pei-i386" || { echo "not a 32-bit program"; exit 1; }
for exe in "$win32/rxmon.exe" "$win64/rxmon.exe"; do
    dlls=$(objdump -p "$exe" | awk '/DLL Name:/ {print toupper($3)}' | sort | tr '\n' ' ')
    [ "$dlls" = "KERNEL32.DLL MSVCRT.DLL WINMM.DLL " ] || { echo "unexpected imports of $exe: $dlls"; exit 1; }
    ! strings -n 5 "$exe" | grep -qF -e "[Autobaud]" -e "no communication with scanner" || { echo "plain text in $exe"; exit 1; }
done
