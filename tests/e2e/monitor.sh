# rxmon against rxmon-sim in a terminal (tmux): start-up refusals, the port
# prompt, the baud-rate search, readings and keys, a scanner lost, found,
# swapped and unplugged, and no scanner at all.
set -u
. "$(dirname "$0")/monitor_lib.sh"

# The prompt: x and 0 change nothing (either taken would end it on another
# port), 5 takes COM 5 (missing here); ESC gives up.
start_rxmon
check "the prompt" wait_for 5 "Press its number"
keys x 0 5
check "5 chooses COM 5, which is missing" [ "$(wait_exit 5)" = 1 ]
check "x and 0 ignored: COM5 named in the failure" wait_for 2 "COM5 cannot be opened"
for words in abc "- 1"; do
    start_rxmon "$words"
    check "rxmon $words: the prompt" wait_for 5 "Press its number"
    keys Escape
    check "ESC at the prompt ends with 1" [ "$(wait_exit 5)" = 1 ]
done
# What rxmon cannot take (never the prompt): one line saying why, exit 1 at
# once, the terminal's settings as they were.
while IFS='|' read -r run says; do
    start_in_terminal "s=\$(stty -g); timeout 3 env $run 2>$work/err; c=\$?; [ \"\$s\" = \"\$(stty -g)\" ] || c=stty; (exit \$c)"
    check "${run/$rxmon/rxmon} ends with 1" [ "$(wait_exit 5)" = 1 ]
    check "... saying why" bash -c "[ \$(wc -l <$work/err) = 1 ] && grep -qF '$says' $work/err"
done <<END
$rxmon 10 </dev/null|COM10? Use 1 to 9.
$rxmon 0|COM0?
$rxmon localhost:2217|needs its scheme: rfc2217://localhost:2217.
$rxmon rfc2217://127.0.0.1:99999|the port number 99999 is outside 1 to 65535.
$rxmon rfc2217://h:|the port number after the host is empty
$rxmon tcp://h:1|tcp:// is no scheme that rxmon knows
$rxmon /$(printf %0201d 0)|name is too long: 202 characters
TERM=dumb $rxmon 1|TERM=dumb cannot move the cursor
TERM=nonesuch $rxmon 1|TERM=nonesuch is not in the terminfo database
-u TERM $rxmon 1|TERM is not set
$rxmon 1 >$work/out|standard output is not a terminal
$rxmon </dev/null|give the COM port (1-9) as the first argument
END

# The tone's keys with ALSA's null device as the sound card (the tone itself
# is heard in tests/backend/sound).
printf 'pcm.!default { type plug; slave.pcm "null" }\n' >"$work/asound.conf"
export ALSA_CONFIG_PATH="/usr/share/alsa/alsa.conf:$work/asound.conf"
start_sim --baud 38400 --model B --freq 1462500 --signal fixed:400 --log-file "$work/search.log"
# Under TERM=vt100, whose padding marks ($<5>) are terminfo's to deal with;
# the port named by its device path, which row 3 shortens and the title shows.
start_in_terminal "env TERM=vt100 $rxmon $RXMON_COM1 1"
check "found at 38400" wait_for 15 "38400 baud"
check "after 115200 and 57600, in that order" [ "$(grep -o 'line is at [0-9]*' "$work/search.log" | uniq | cut -c12- | xargs)" = "115200 57600" ]
check "each woken by a carriage return first" grep -qF '<- \r' <<<"$(grep -m1 ' <- ' "$work/search.log")"
check "... on row 3, the path shortened" grep -qF " ~${RXMON_COM1: -4}:  38400 baud" <<<"$(screen_row 3)"
check "path and frequency in the title" grep -qF "Scanner - $RXMON_COM1 - 146.2500" <<<"$(title)"
for text in "146.2500 MHz" " 400/1023" "in range" "Volume:   0%"; do check "shows '$text'" wait_for 2 "$text"; done
for _ in $(seq 50); do keys Up; done
check "Up raises the volume to 50" wait_for 5 "Volume:  50%"
keys m
check "M mutes" wait_for 2 "muted"
check "no padding marks" bash -c "! tmux -L $socket capture-pane -p -t 0 | grep -qF '\$<'"
set -- $(press_esc)
check "ESC ends with 0 within a second ($2 ms)" [ "$1" = 0 -a "$2" -lt 1000 ]
check "terminal given back" wait_for 2 "rxmon ended"
check "monitor screen gone, no marks left" bash -c "! tmux -L $socket capture-pane -p -t 0 | grep -qe 'scanner view' -e '\$<'"
stop_sim

# No thread to be had (the process limit): Beep output, a key's beep passes,
# and ESC ends rxmon at once. The limit binds root only under another user.
start_sim --baud 115200
refuse_threads="prlimit --nproc=0 --"
if [ "$(id -u)" = 0 ]; then
    refuse_threads="setpriv --reuid=65534 --regid=65534 --clear-groups $refuse_threads"
    chmod 755 "$work" && chmod 666 "$RXMON_COM1"
fi
start_in_terminal "env RXMON_COM1='$RXMON_COM1' $refuse_threads $rxmon 1 1"
check "Beep output without a tone thread" wait_for 10 "Beeps:"
keys x
set -- $(press_esc)
check "ESC ends it at once ($2 ms)" [ "$1" = 0 -a "$2" -lt 1000 ]
stop_sim

# A port that never falls silent, and one that never answers: ESC is
# answered within 1.5 s, wherever in the search's second it comes. On the
# silent port it comes just after a wake-up, when the key check before the
# model query has passed: the next look, a second on, must end rxmon.
for sim_options in --flood "--drop 1"; do
    start_sim $sim_options $([ "$sim_options" = --flood ] || echo --log-file "$work/esc.log")
    start_rxmon 1 0
    check "$sim_options: screen drawn" wait_for 5 "scanner view"
    if [ "$sim_options" = --flood ]; then sleep 0.$((RANDOM % 10)); else
        woke() { [ "$(grep -c '<- \\r' "$work/esc.log")" -gt "$1" ]; }
        until_true 3 woke "$(grep -c '<- \\r' "$work/esc.log")"
    fi
    set -- $(press_esc)
    check "$sim_options: ESC ends with 0 within 1.5 s ($2 ms)" [ "$1" = 0 -a "$2" -lt 1500 ]
    stop_sim
done

# Info replies that differ within a pass abandon it: nothing of it is drawn.
start_sim --baud 115200 --info-differ 1 --log-file "$work/info.log"
start_rxmon 1 0
infos_asked() { [ "$(grep -c '<- VER' "$work/info.log")" -ge 6 ]; }
check "differing info: asked again and again" until_true 10 infos_asked
check "... and no pass drawn" bash -c "! tmux -L $socket capture-pane -p -t 0 | grep -q firmware"
keys Escape && wait_exit 3 >/dev/null
stop_sim

ticks() { awk '{print $14 + $15}' "/proc/$1/stat" 2>/dev/null; }  # user + system CPU, in clock ticks
# unplugged WHEN: once the line is closed, rxmon ends within 4 s without
# spinning, with exit code 1 and the open-failure message, on a terminal given back.
unplugged() {
    local pid start cpu_start cpu_last took_ms cpu_ms
    pid=$(pgrep -P "$(tmux -L "$socket" display -p -t 0 '#{pane_pid}')" | head -1)
    check "$1: the simulator unplugged" until_true 30 grep -q unplugged "$work/sim.log"
    start=$(now_ms)
    cpu_start=$(ticks "$pid")
    cpu_last=$cpu_start
    last_cpu() { cpu_last=$(ticks "$pid" || echo "$cpu_last"); [ -s "$work/exit" ]; }  # the last reading before it ended
    until_true 10 last_cpu
    took_ms=$(($(now_ms) - start))
    cpu_ms=$(((cpu_last - cpu_start) * 1000 / $(getconf CLK_TCK)))
    check "$1: ends with 1" [ "$(wait_exit 1)" = 1 ]
    check "$1: within 4 s ($took_ms ms), without spinning ($cpu_ms ms of CPU)" [ "$took_ms" -le 4000 -a "$cpu_ms" -le 300 ]
    check "$1: the open-failure message" wait_for 1 "COM1 cannot be opened"
    check "$1: alternate screen left, cursor shown" \
        [ "$(tmux -L "$socket" display -p -t 0 '#{alternate_on} #{cursor_flag}')" = "0 1" ]
    stop_sim
    rm -f "$work/sim.log"
}

# Silent for 3 s after 6 s (time enough to be found at 57600 on a slow
# start), then back at 9600: lost, searched, found again; then a cable swap
# to the other model, then the line pulled.
start_sim --baud 57600 --model A --silent 6:3:9600 --switch-model 19 --unplug 25 --log-file "$work/sim.log"
start_rxmon 1 0
check "found at 57600" wait_for 10 "57600 baud"
check "model A" wait_for 2 "SR-A10"
until_true 10 grep -q "== *silent" "$work/sim.log"
check "lost while silent" wait_for 8 "[no communication with scanner]"
check "found again at 9600" wait_for 20 " 9600 baud"
check "model B after the swap" wait_for 15 "SR-B20"
unplugged monitoring

# No scanner, and unplugged during the search.
start_sim --baud 9600 --drop 1 --unplug 12 --log-file "$work/sim.log"
start_rxmon --log "$work/unplugged.csv" 1 0
check "autobaud first" wait_for 3 "[Autobaud]"
check "the fifth rate tried" until_true 10 eval 'grep " <- " "$work/sim.log" | grep -qv ignored'  # heard at 9600
check "still autobaud there" on_screen "[Autobaud]"
check "no communication from the sixth rate on" wait_for 6 "[no communication with scanner]"
# Blinking: bright red on blue, and for 300 ms a second blue on blue.
phases=$(for _ in $(seq 30); do tmux -L "$socket" capture-pane -e -p -t 0 | sed -n 3p; sleep 0.05; done)
check "the status shows in red" grep -qF '[91m[no comm' <<<"$phases"
check "and vanishes into the blue" grep -qF '[34m[no comm' <<<"$phases"
unplugged searching
check "the log ends with the run" [ "$(cut -d, -f8 "$work/unplugged.csv" | paste -sd/)" = "event/started/ended" ]
finish
