# The pure routines' tests and the sound subsystem against the real WINMM,
# built for Windows, under wine64.
set -eu
. "$(dirname "$0")/wine-env"
wine_run "$1/tests/unit_pure.exe"
wine_run "$1/tests/sound_devices.exe"
