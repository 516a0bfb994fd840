# The program's texts reach the binary only in stored form: strings(1) over
# built programs must not find any of a few of them in plain form.
set -eu
build=$1
fail=0
probe=$build/tests/runtime_probe

check() {  # program, texts...
    local program=$1; shift
    local found
    found=$(strings -n 5 "$program")
    for text in "$@"; do
        if grep -qF -- "$text" <<<"$found"; then
            echo "plain text in $program: $text"
            fail=1
        fi
    done
    # Each stored text lies where txt_unscramble takes texts for constants
    # (only the empty text, all zeros, may lie apart: it reads plain anyway).
    if objdump -t "$program" | grep 9textconst8Constant | grep -qv -e ' rxmon_texts' -e ' \.bss'; then
        echo "a text constant of $program lies outside rxmon_texts"
        fail=1
    fi
}

# The texts are really there, and say what they should once unscrambled.
"$probe" print | grep -qF "3 texts, 123,456 bytes" || { echo "probe did not print"; exit 1; }
# The check itself can see a plain text: a C library name stays plain.
strings -n 5 "$probe" | grep -qF "libc.so" || { echo "strings found nothing it should have found"; exit 1; }

check "$probe" "texts, %" "internal failure" "Short write" "cannot be created or replaced" \
    "<closed handle>" "Out of memory" "0123456789ABCDEF" "usage: runtime_probe" "Asked to stop"

if [ -x "$build/rxmon" ]; then
    check "$build/rxmon" "[Autobaud]" "no communication with scanner" "internal failure" "Short write" "rfc2217://HOST"
fi
exit $fail
