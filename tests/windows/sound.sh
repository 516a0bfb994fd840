# The sound subsystem's Windows build against the real WINMM, under wine64.
set -eu
. "$(dirname "$0")/wine-env"
wine_run "$1/tests/sound_devices.exe"
