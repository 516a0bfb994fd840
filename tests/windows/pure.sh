# The pure routines' tests, built for Windows, under wine.
set -eu
. "$(dirname "$0")/wine_lib.sh"
wine_run "$1/tests/unit_pure.exe"
