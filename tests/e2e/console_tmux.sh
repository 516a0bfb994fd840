# The console layer in a real terminal: screen_demo inside tmux. Colours and
# glyphs as tmux sees them, the title, keys as KeyCodes, a repaint after a
# resize, and the terminal given back on every way out, a crash (of
# runtime_probe) among them.
set -u
DEMO=$1/bench/screen_demo PROBE=$1/tests/runtime_probe
SOCKET=
WORK=$(mktemp -d)
runs=0
failures=0
t() { tmux -L "$SOCKET" "$@"; }
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
trap '[ -n "$SOCKET" ] && t kill-server 2>/dev/null; rm -rf "$WORK"' EXIT
[ -x "$DEMO" ] || { echo "no $DEMO"; exit 1; }

pane() {  # a command in the pane of a new tmux server: the last may still be ending
    [ -n "$SOCKET" ] && t kill-server 2>/dev/null
    runs=$((runs + 1))
    SOCKET=rxmon-console-$$-$runs
    t -f /dev/null new-session -d -x 80 -y 24 -e LANG=C.UTF-8 -e TERM=tmux-256color "$1"
}
# A program in a fresh pane; the shell around it reports the exit code and
# whether the terminal's settings came back unchanged. Job control puts the
# program in a process group of its own, so that Ctrl+C reaches it alone.
start() {
    pane "bash -c 'cd $WORK; set -m; printf \"before\\n\"; s1=\$(stty -g); $1; echo EXIT=\$?; s2=\$(stty -g); [ \"\$s1\" = \"\$s2\" ] && echo STTY=same; sleep 60'"
    t set -g window-size manual
    [ "$1" != "$DEMO" ] || wait_for 'rxmon console demo' || fail "$1: the demo did not start"
}
screen() { t capture-pane -p -S - "$@"; }  # with what scrolled off
row() { t capture-pane -p -e | sed -n "$1p"; }
wait_for() {  # up to 5 s for a text on the screen
    for _ in $(seq 100); do
        screen | grep -qF -- "$1" && return 0
        sleep 0.05
    done
    return 1
}
given_back() {  # NAME CODE (any when empty) [TEXT shown after the end]
    [ -z "${3-}" ] || wait_for "$3" || fail "$1: no '$3' after the end"
    wait_for 'EXIT=' || fail "$1: the demo did not end"
    [ -z "$2" ] || screen | grep -qx "EXIT=$2" || fail "$1: $(screen | grep -o 'EXIT=.*'), not exit code $2"
    [ "$(t display -p '#{alternate_on} #{cursor_flag}')" = "0 1" ] || fail "$1: alternate screen or hidden cursor left"
    screen | grep -q '^before' || fail "$1: the user's screen was not given back"
    screen | grep -q 'STTY=same' || fail "$1: terminal settings not restored"
}

start "$DEMO"
row 1 | grep -q $'\e\[44m *\e\[94mrxmon console demo' || fail "title not light blue on blue: $(row 1 | cat -v)"
row 5 | grep -q $'\e\[92m.*STEADY' || fail "steady text not light green: $(row 5 | cat -v)"
row 8 | grep -q '████████████▌' || fail "signal bar glyphs: $(row 8)"
row 11 | grep -q '▐█████|' || fail "tuning bar glyphs: $(row 11)"
[ "$(t display -p '#{pane_title}')" = "rxmon demo 145.500 MHz" ] || fail "title: $(t display -p '#{pane_title}')"

# Keys through the terminal's own strings: each shows its KeyCode and scan code.
n=0
for key in "a 97 30" "A 65 30" "C-a 1 30" "M-x 301 45" "BTab 271 15" "BSpace 8 14" "Enter 13 28" "C-Space 0 3" \
    "Up 328 72" "C-Up 397 72" "M-Down 336 80" "Home 327 71" "PPage 329 73" "DC 339 83" "F1 315 59" "F5 319 63" \
    "F11 389 87" "F12 390 88" "S-F1 340 59" "C-F5 354 63" "M-F1 360 59" "M-Escape 283 1"; do
    set -- $key
    n=$((n + 1))
    t send-keys "$1"
    wait_for "#$n" && screen | grep -q "key *$2 scan *$3  #$n *\$" || fail "key $1: $(screen | sed -n 15p)"
done

# A resize repaints the whole screen from the console's cells.
t resize-window -x 20 -y 8
sleep 0.3
t resize-window -x 80 -y 24
wait_for 'Keys show below; ESC ends.' && screen | grep -q 'inverse: *INVERSE' || fail "resize: $(screen | head -20)"

t send-keys Escape
given_back ESC 0
start "$DEMO fatal"
given_back fatal 1 'stops on purpose (fatal)'
start "$PROBE screen"
given_back "a crash, whose report shows on the terminal given back" 1 'also written to crash-report.txt'
screen | grep -q 'access violation' || fail "crash: no report on the terminal given back"
# Ctrl+C as typed (the one signal key left on), and the other signals.
for sig in INT TERM HUP ABRT; do
    start "$DEMO"
    demo_pid=$(pgrep -P "$(t display -p '#{pane_pid}')" -f screen_demo)  # the one child of the pane's shell
    if [ "$sig" = INT ]; then t send-keys C-c; else [ -n "$demo_pid" ] && kill -"$sig" "$demo_pid" || fail "SIG$sig: no demo"; fi
    given_back "SIG$sig" ""
done
echo "$failures failed"
[ "$failures" -eq 0 ]
