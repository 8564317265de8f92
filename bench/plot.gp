# Latency against channel count, service and floor, one panel per mirror kind, and the ratio.
#   gnuplot -e "datafile='latency.dat'; outfile='bench-latency.svg'" bench/plot.gp
# Each block of datafile is one kind: channels, service p50, floor p50, service p99, floor p99
# (milliseconds), p50 ratio, p99 ratio.
set terminal svg size 1200,760 dynamic font "sans,11" background rgb "white"
set output outfile
kinds = "recall create-by-name create-by-number update-moved remove"
set multiplot layout 2,3 title "Time from the user's signal to the last required call"
set logscale x 2
set xtics ("2" 2, "4" 4, "8" 8, "16" 16)
set xrange [1.7:19]
set xlabel "channels"
set grid
set key top left font ",9"
set logscale y
set ylabel "ms"
do for [i=0:4] {
    set title word(kinds, i + 1)
    plot datafile index i using 1:2 with linespoints lw 2 pt 7 lc rgb "#c0392b" title "service p50", \
         '' index i using 1:3 with linespoints lw 2 pt 5 lc rgb "#2471a3" title "floor p50", \
         '' index i using 1:4 with linespoints dt 2 pt 6 lc rgb "#c0392b" title "service p99", \
         '' index i using 1:5 with linespoints dt 2 pt 4 lc rgb "#2471a3" title "floor p99"
}
unset logscale y
set title "service p50 / floor p50 (goal: at most 1.10)"
set ylabel "ratio"
set yrange [0.8:1.3]
plot for [i=0:4] datafile index i using 1:6 with linespoints lw 2 title word(kinds, i + 1), \
     1.10 with lines dt 3 lc rgb "black" title "goal"
unset multiplot
