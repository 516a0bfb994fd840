# rxmon-plot on small logs: the chart's texts as gnuplot is given them (a
# wrapper on PATH keeps its script, then runs the real one), one port of
# several, the time axis of a lone reading, rows that are not readings.
set -u
. "$(dirname "$0")/monitor_lib.sh"
src=$(dirname "$0")/../..
mkdir "$work/bin" "$work/charts"
printf '#!/bin/sh\nsed -n "s/^load .\\(.*\\).$/\\\\1/p" "$1" | xargs cat "$1" >"%s/script.gp"\nexec /usr/bin/gnuplot "$@"\n' "$work" >"$work/bin/gnuplot"
chmod +x "$work/bin/gnuplot"
T=2026-12-07T14:12 U=/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1-if00-port0 M=,SR-B20,146250000,392,100
while IFS='|' read -r arguments rows says script; do
    { echo time,port,model,frequency_hz,level,tuning,signal,event; tr ';' '\n' <<<"$rows"; } >"$work/log.csv"
    out=$(PATH=$work/bin:$PATH "$build/plot/rxmon-plot" "$work/log.csv" $arguments 2>&1)
    check "rxmon-plot $arguments ${rows:0:50}...: $says" grep -qF -- "$says" <<<"$out"
    check "... gnuplot is given $script" grep -qF -- "$script" "$work/script.gp"
done <<CASES
|$T:01.0+00:00,$U$M,500,;$T:03.0+00:00,$U$M,600,|2 readings|set title 'rxmon session on $U, 146.2500 MHz'
|$T:01.0+00:00,COM1$M,500,;$T:02.0+00:00,COM2$M,900,;$T:03.0+00:00,COM1$M,600,|2 readings from 14:12:01 to 14:12:03, peak 600 at 14:12:03, 0 spans without communication; left out: COM2|on COM1,
--port COM2|$T:01.0+00:00,COM1$M,500,;$T:02.0+00:00,COM2$M,900,|1 reading from 14:12:02 to 14:12:02, peak 900|on COM2,
|$T:01.0+00:00,COM1,SR-B20,146250000,392,100,500,;$T:02.0+00:00,COM1,SR-B20,146275000,392,100,500,|2 readings|COM1, several frequencies'
-o $work/charts|$T:01.5+00:00,COM1$M,500,|$work/charts/log.png: 1 reading|set xrange [t0 - 30:t0 + 30]
|$T:01.0+00:00,COM1$M,500,;hello,,,,,,900,;$T:02 x,COM1$M,800,;$T:03.0+00:00,COM1,SR-B20,x,392,100,700,|1 reading from 14:12:01 to 14:12:01, peak 500|noenhanced
CASES
check "a chart in the directory" [ -s "$work/charts/log.png" ]
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
for plot in "$build/plot/rxmon-plot" "$src/plot/rxmon-plot"; do
    check "$plot --version" [ "$("$plot" --version)" = "rxmon-plot $version" ]
done
finish
