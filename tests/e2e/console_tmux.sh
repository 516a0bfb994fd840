# The console layer in a real terminal: screen_demo inside tmux. Colours and
# glyphs as tmux sees them, the title, a repaint after a resize, and the
# terminal given back on every way out, a crash (of runtime_probe) among them.
# (Keys: the decoder's own tests, and rxmon's keys in monitor.sh.)
set -u
. "$(dirname "$0")/monitor_lib.sh"
DEMO=$build/bench/screen_demo PROBE=$build/tests/runtime_probe
cd "$work"  # where the crash report is written
[ -x "$DEMO" ] || { echo "no $DEMO"; exit 1; }
t() { tmux -L "$socket" "$@"; }
fail() { check "$*" false; }
row() { t capture-pane -p -e | sed -n "$1p"; }
# A program as the user's shell runs it, in a process group of its own; its
# exit code, or "stty" when the terminal's settings did not come back.
start() {
    start_in_terminal "env LANG=C.UTF-8 TERM=tmux-256color bash -c 'set -m; echo before; s=\$(stty -g); $1; c=\$?; [ \"\$s\" = \"\$(stty -g)\" ] || c=stty; exit \$c'"
    t set -g window-size manual
    [ "$1" != "$DEMO" ] || wait_for 5 'rxmon console demo' || fail "$1: the demo did not start"
}
given_back() {  # NAME CODE (any when empty) [TEXT shown after the end]
    [ -z "${3-}" ] || wait_for 5 "$3" || fail "$1: no '$3' after the end"
    local code
    code=$(wait_exit 5)
    [ "$code" != stty ] && [ "${2:-$code}" = "$code" ] || fail "$1: exit code $code, not ${2:-one} with the settings restored"
    [ "$(t display -p '#{alternate_on} #{cursor_flag}')" = "0 1" ] || fail "$1: alternate screen or hidden cursor left"
    t capture-pane -p -S - | grep -q '^before' || fail "$1: the user's screen was not given back"
}

start "$DEMO"
row 1 | grep -q $'\e\[44m *\e\[94mrxmon console demo' || fail "title not light blue on blue: $(row 1 | cat -v)"
row 5 | grep -q $'\e\[92m.*STEADY' || fail "steady text not light green: $(row 5 | cat -v)"
row 8 | grep -q '████████████▌' || fail "signal bar glyphs: $(row 8)"
row 11 | grep -q '▐█████|' || fail "tuning bar glyphs: $(row 11)"
[ "$(t display -p '#{pane_title}')" = "rxmon demo 145.500 MHz" ] || fail "title: $(t display -p '#{pane_title}')"

t resize-window -x 20 -y 8
sleep 0.3
t resize-window -x 80 -y 25
wait_for 5 'Keys show below; ESC ends.' && screen | grep -q 'inverse: *INVERSE' || fail "resize: $(screen | head -20)"

t send-keys Escape
given_back ESC 0
start "$DEMO fatal"
given_back fatal 1 'stops on purpose (fatal)'
start "$PROBE screen"
given_back "a crash, whose report shows on the terminal given back" 1 'also written to crash-report.txt'
t capture-pane -p -S - | grep -q "access violation" || fail "crash: no report on the terminal given back"
for sig in TERM HUP ABRT; do
    start "$DEMO"
    demo_pid=$(pgrep -xf "$DEMO")
    [ -n "$demo_pid" ] && kill -"$sig" "$demo_pid" || fail "SIG$sig: no demo to signal"
    given_back "SIG$sig" ""
done
# A typed Ctrl+C (the one signal key left on) would end a shell around the
# demo too: here the demo is the pane's own process, whose last bytes must
# leave the alternate screen and then show the cursor.
start_in_terminal "until [ -e $work/piped ]; do sleep 0.05; done; exec env LANG=C.UTF-8 TERM=tmux-256color $DEMO"
t set -g remain-on-exit on
t pipe-pane -o "cat > $work/log" && touch "$work/piped"
wait_for 5 'rxmon console demo' && t send-keys C-c
until_true 3 eval '[ "$(t display -p "#{pane_dead}")" = 1 ]'
[ "$(t display -p '#{pane_dead} #{alternate_on}')" = "1 0" ] &&
    [[ "$(tr -d '\n' <"$work/log")" == *$'\e[?1049l'*$'\e[?25h'* ]] || fail "Ctrl+C: $(cat -v "$work/log" | tail -c 200)"
finish
