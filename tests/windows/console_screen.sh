# The screen and keys of the Windows build in wine's console, inside tmux:
# runs console_screen.exe in a pane, types the keys its last screen test
# waits for, and reads gtest's verdict from its XML report.
set -u
. "$(dirname "$0")/wine-env"
EXE=$1/tests/console_screen.exe
SOCKET=rxmon-wincon-$$
WORK=$(mktemp -d)
trap 'tmux -L "$SOCKET" kill-server 2>/dev/null; rm -rf "$WORK"' EXIT
[ -f "$EXE" ] || { echo "no $EXE"; exit 1; }

# In the foreground process group, or wine cannot read the terminal's keys;
# error output stays on the terminal, where wine draws its console.
tmux -L "$SOCKET" -f /dev/null new-session -d -x 80 -y 24 \
    "timeout --foreground ${WINE_TIMEOUT:-300} $WINE64 '$EXE' --gtest_output=xml:Z:$WORK/report.xml > $WORK/out.txt; echo \$? > $WORK/rc"
for _ in $(seq 600); do
    tmux -L "$SOCKET" capture-pane -p | grep -q 'READY FOR KEYS' && break
    [ -f "$WORK/rc" ] && break
    sleep 0.2
done
for key in a A Up Down F1 Enter Escape; do
    tmux -L "$SOCKET" send-keys "$key"
    sleep 0.3
done
for _ in $(seq 300); do
    [ -f "$WORK/rc" ] && break
    sleep 0.2
done
[ -f "$WORK/report.xml" ] && grep -E '<testcase|<failure' "$WORK/report.xml" | sed 's/ file=.*//'
[ -f "$WORK/rc" ] || { echo "console_screen.exe did not end"; exit 1; }
rc=$(cat "$WORK/rc")
[ "$rc" = 0 ] || { echo "console_screen.exe failed ($rc)"; tail -30 "$WORK/out.txt"; }
[ "$rc" = 0 ]
