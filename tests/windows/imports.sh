# Both Windows programs need nothing beside Windows' own DLLs: KERNEL32,
# WINMM and the C run-time that Windows ships. The i686 one is the program
# handed out; this machine cannot run it, so it is checked here only.
set -eu
win64=$1 win32=${3:?the i686 build tree}
for exe in "$win32/rxmon.exe" "$win64/rxmon.exe"; do
    dlls=$(objdump -p "$exe" | awk '/DLL Name:/ {print toupper($3)}' | sort | tr '\n' ' ')
    echo "$exe: $dlls"
    [ "$dlls" = "KERNEL32.DLL MSVCRT.DLL WINMM.DLL " ] || { echo "unexpected imports"; exit 1; }
done
objdump -f "$win32/rxmon.exe" | grep -q "file format pei-i386" || { echo "not a 32-bit program"; exit 1; }
# The texts are stored scrambled in the Windows programs too.
for exe in "$win32/rxmon.exe" "$win64/rxmon.exe"; do
    if strings -n 5 "$exe" | grep -qF -e "[Autobaud]" -e "no communication with scanner"; then
        echo "plain text in $exe"; exit 1
    fi
done
