# Draws the cross-validated mean squared error of a penalised Motiffit fit against lambda
# (log scale), with one standard error above and below, and the chosen lambda marked, from
# the table that `Motiffit --path` writes.
#
#   gnuplot -e "path='path.tab'; coefficients='coefficients.tab'; output='path.png'" \
#       workflow/plot_path.gp
#
# Columns of the path table: lambda, CV mean squared error, its standard error, motifs kept,
# 1 on the chosen lambda's line.

title_field(name, field) = system(sprintf("awk -F'\t' '$1 == \"%s\" { print $%d; exit }' '%s'", \
                                          name, field, coefficients))
penalty = title_field("Penalty", 2)
alpha = title_field("Alpha", 2)
chosen = real(system(sprintf("awk -F'\t' 'NR > 1 && $5 == 1 { print $1; exit }' '%s'", path)))
kept = title_field("Motifs kept", 2)

set terminal pngcairo size 1000,700 font ",12"
set output output
set datafile separator "\t"
set title sprintf("Cross-validated error of the %s fit (alpha %s) against lambda\n" . \
                  "chosen lambda %.4g, %s motifs kept", penalty, alpha, chosen, kept)
set logscale x
set format x "10^{%L}"
set xlabel "lambda"
set ylabel "Cross-validated mean squared error"
set grid
set key top left
set arrow from chosen, graph 0 to chosen, graph 1 nohead dashtype 2 linecolor rgb "#b03030"
plot path using 1:2:3 skip 1 with yerrorbars pointtype 7 pointsize 0.6 \
         linecolor rgb "#1f5f9f" title "mean +- one standard error over the folds", \
     path using 1:2 skip 1 with lines linecolor rgb "#1f5f9f" notitle, \
     NaN with lines dashtype 2 linecolor rgb "#b03030" title "chosen lambda"
