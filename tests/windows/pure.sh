# The pure routines' tests, built for Windows, under wine64.
set -eu
. "$(dirname "$0")/wine-env"
wine_run "$1/tests/unit_pure.exe"
