# The tone, heard through ALSA's file plugin as the default sound device:
# its pitch is the pitch table's at the scanner's signal, Up raises its
# level, M silences it, and a change is heard within 300 ms; without a
# thread for it, Beep output.
set -u
. "$(dirname "$0")/monitor-lib"

rate=48000
cat >"$work/asound.conf" <<CONF
pcm.!default { type plug; slave { pcm "capture"; rate $rate; format S16_LE; channels 1 } }
pcm.capture { type file; slave.pcm "null"; file "$work/capture.raw"; format "raw" }
CONF
export ALSA_CONFIG_PATH="/usr/share/alsa/alsa.conf:$work/asound.conf"

# analyse FROM_BYTE [TO_BYTE]: "<hz> <peak>" of the captured sound in that range.
analyse() {
    python3 - "$work/capture.raw" "$rate" "$@" <<'PY'
import struct, sys
data = open(sys.argv[1], 'rb').read()
rate = int(sys.argv[2])
start = int(sys.argv[3]) & ~1
end = int(sys.argv[4]) & ~1 if len(sys.argv) > 4 else len(data) & ~1
s = struct.unpack('<%dh' % ((end - start) // 2), data[start:end])
peak = max((abs(v) for v in s), default=0)
rises = [i for i in range(1, len(s)) if s[i - 1] < 0 <= s[i]]
hz = (len(rises) - 1) * rate / (rises[-1] - rises[0]) if len(rises) > 2 else 0
print('%.2f %d' % (hz, peak))
PY
}
size() { stat -c %s "$work/capture.raw" 2>/dev/null || echo 0; }
# first_sound FROM_BYTE: milliseconds of sound-free samples after that byte.
first_sound() {
    python3 - "$work/capture.raw" "$rate" "$1" <<'PY'
import struct, sys
data = open(sys.argv[1], 'rb').read()
start = int(sys.argv[3]) & ~1
s = struct.unpack('<%dh' % ((len(data) - start) // 2), data[start:])
i = next((i for i, v in enumerate(s) if v != 0), None)
print(-1 if i is None else i * 1000 // int(sys.argv[2]))
PY
}

start_sim --baud 115200 --model B --signal fixed:400
start_rxmon 1 1
check "tone output chosen" wait_for 10 "Volume:"
sleep 0.5
check "silent at volume 0" [ "$(analyse 0 | cut -d' ' -f2)" = 0 ]

for _ in $(seq 50); do keys Up; done
check "volume shown as 50" wait_for 5 " 50%"
sleep 1
from=$(size)
sleep 1
read -r hz peak <<<"$(analyse "$from")"
echo "tone: $hz Hz (table 1086 Hz at 400), peak $peak"
check "pitch within 1 % of the table's 1086 Hz" python3 -c "import sys; sys.exit(abs($hz - 1086) > 10.86)"
check "level at volume 50" [ "$peak" -ge 15000 -a "$peak" -le 17000 ]

for _ in $(seq 30); do keys Up; done
sleep 1
from=$(size)
sleep 0.5
read -r _ louder <<<"$(analyse "$from")"
check "Up raises the level ($peak to $louder)" [ "$louder" -gt "$peak" ]

keys m
sleep 0.6
from=$(size)
sleep 0.5
check "M silences the tone" [ "$(analyse "$from" | cut -d' ' -f2)" = 0 ]
at_key=$(size)
keys m
sleep 1
latency=$(first_sound "$at_key")
echo "unmuted tone heard after $latency ms"
check "heard within 300 ms" [ "$latency" -ge 0 -a "$latency" -le 300 ]

keys Escape
check "ends with 0" [ "$(wait_exit 3)" = 0 ]

# No thread to be had (the process limit): Beep output, a key's beep passes,
# and ESC ends rxmon at once. The limit binds root only under another user.
refuse_threads="prlimit --nproc=0 --"
if [ "$(id -u)" = 0 ]; then
    refuse_threads="setpriv --reuid=65534 --regid=65534 --clear-groups $refuse_threads"
    chmod 755 "$work" && chmod 666 "$RXMON_COM1" "$work/capture.raw"
fi
start_in_terminal "env RXMON_COM1='$RXMON_COM1' $refuse_threads $rxmon 1 1"
check "Beep output without a tone thread" wait_for 10 "Beeps:"
keys x
sleep 0.2
keys Escape
check "ESC ends it at once" [ "$(wait_exit 1)" = 0 ]
finish
