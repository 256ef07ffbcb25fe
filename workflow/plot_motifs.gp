# Draws the motifs with the largest standardised coefficients of an unpenalised Motiffit
# fit, each with its 95% confidence interval (1.96 standard errors, the normal
# approximation to t, which the hundreds of degrees of freedom of a peak set allow).
#
#   gnuplot -e "coefficients='coefficients.tab'; output='motifs.png'" workflow/plot_motifs.gp
#
# Motif lines are those after the "Intercept" line; fields: label, standardised
# coefficient, its standard error, coefficient, standard error, t, p, q.

top = 20
# The motif lines with an estimate, largest |standardised coefficient| first, numbered
# from the top of the picture down.
motif_data = system(sprintf("awk -F'\t' 'seen && $3 != \"NA\" { print $1 \"\\t\" $2 \"\\t\" $3 } " . \
                            "$1 == \"Intercept\" { seen = 1 }' '%s' | " . \
                            "sort -t'\t' -k2,2 -g | awk -F'\t' '{ a = $2 < 0 ? -$2 : $2; " . \
                            "print a \"\\t\" $0 }' | sort -t'\t' -k1,1 -g -r | head -n %d | " . \
                            "awk -F'\t' '{ print NR \"\\t\" $2 \"\\t\" $3 \"\\t\" $4 }'", \
                            coefficients, top))
r_squared = system(sprintf("awk -F'\t' '$1 == \"R-squared (in-sample)\" { print $2; exit }' '%s'", \
                           coefficients))
set print $motifs
print motif_data
unset print

set terminal pngcairo size 900,800 font ",12"
set output output
set datafile separator "\t"
set title sprintf("Motifs with the largest standardised coefficients (in-sample R^2 %s)\n" . \
                  "95%% confidence intervals", r_squared)
set xlabel "Standardised coefficient (standard deviations of Ln(Peak score) per SD of the count)"
set yrange [top + 0.5:0.5]
set lmargin 24
set ytics nomirror
set grid xtics
set arrow from 0, graph 0 to 0, graph 1 nohead linecolor rgb "#808080"
plot $motifs using 3:1:($3 - 1.96 * $4):($3 + 1.96 * $4):ytic(2) with xerrorbars \
         pointtype 7 pointsize 0.8 linecolor rgb "#1f5f9f" notitle
