#!/usr/bin/env bash
# Draws docs/performance.png from the output of tarvik-bench (boot and packet):
#   build/release/bench/tarvik-bench boot packet > bench.txt; bench/plot.sh bench.txt
# Needs gnuplot (Debian: gnuplot-nox); not part of CI.
set -euo pipefail
input=${1:?usage: bench/plot.sh BENCH_OUTPUT}
out=${2:-$(dirname "$0")/../docs/performance.png}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
# Boot runs: "run wall_ms ratio" rows after the boot header.
awk '/^== boot-mode/{b=1;next} /^== /{b=0} b && $1 ~ /^[0-9]+$/ && NF==3 {print $1, $3}' "$input" >"$tmp/boot"
# Packet runs: "mode run exchanges median p99 max".
awk '/^== packet/{p=1;next} /^== /{p=0} p && $1 ~ /^[12]$/ && NF>=6 {print "m" $1 "/" $2, $4, $5}' "$input" >"$tmp/packet"
gnuplot <<GP
set terminal pngcairo size 900,360 font ",10"
set output "$out"
set multiplot layout 1,2
set title "boot-mode update, 64 KiB: wall time / protocol floor"
set style fill solid 0.6
set boxwidth 0.6
set yrange [1:1.08]
set ylabel "ratio"
set xlabel "run"
set arrow from graph 0, first 1.02 to graph 1, first 1.02 nohead dt 2 lc rgb "red"
set label "aim 1.02" at graph 0.02, first 1.023 tc rgb "red"
plot "$tmp/boot" using 1:2 with boxes notitle lc rgb "#4477aa"
unset arrow; unset label
set title "packet protocol: host turnaround per exchange"
set ylabel "microseconds"
set xlabel "report mode / run"
set yrange [0:*]
set style data histograms
set style histogram clustered
plot "$tmp/packet" using 2:xtic(1) title "median" lc rgb "#4477aa", "" using 3 title "p99" lc rgb "#cc6677"
unset multiplot
GP
echo "wrote $out"
