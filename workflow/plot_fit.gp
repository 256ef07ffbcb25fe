# Draws observed against predicted Ln(Peak score) from Scorefit's prediction table, with the
# in-sample and cross-validated R-squared of Motiffit's coefficient table in the title.
#
#   gnuplot -e "predicted='predicted.tab'; coefficients='coefficients.tab'; output='fit.png'" \
#       workflow/plot_fit.gp
#
# Observed is the table's second column, predicted its last ("Predicted").

title_figure(name) = system(sprintf("awk -F'\t' '$1 == \"%s\" { print $2; exit }' '%s'", \
                                    name, coefficients))
r_squared = title_figure("R-squared (in-sample)")
rows_used = title_figure("Rows used")
# The cross-validated line names its folds; it is missing when --folds 1 turned it off.
cross_validated = system(sprintf("awk -F'\t' 'index($1, \"R-squared (cross-validated\") == 1 " . \
                                 "{ sub(/^R-squared \\(cross-validated, /, \"\", $1); " . \
                                 "sub(/\\)$/, \"\", $1); print $2 \" (\" $1 \")\"; exit }' '%s'", \
                                 coefficients))
if (strlen(cross_validated) == 0) cross_validated = "not computed"
last_column = int(system(sprintf("awk -F'\t' '{ print NF; exit }' '%s'", predicted)))

set terminal pngcairo size 900,900 font ",12"
set output output
set datafile separator "\t"
set title sprintf("Observed against predicted Ln(Peak score), %s peaks\n" . \
                  "R^2 in-sample %s, cross-validated %s", rows_used, r_squared, cross_validated)
set xlabel "Predicted Ln(Peak score)"
set ylabel "Observed Ln(Peak score)"
set size ratio -1
set grid
set key top left Left reverse
# A value that is not a finite number (a score of 0 gives -inf) leaves its row out.
finite(v) = (v == v && abs(v) < 1e308) ? v : NaN
# The same range on both axes, so that the diagonal is the line of perfect prediction.
stats predicted using (finite(column(2))) name "observed" nooutput
stats predicted using (finite(column(last_column))) name "fitted" nooutput
low = (observed_min < fitted_min ? observed_min : fitted_min)
high = (observed_max > fitted_max ? observed_max : fitted_max)
margin = (high - low) * 0.05
set xrange [low - margin:high + margin]
set yrange [low - margin:high + margin]
plot predicted using (finite(column(last_column))):(finite(column(2))) skip 1 with points pointtype 7 pointsize 0.6 \
         linecolor rgb "#1f5f9f" title "peaks", \
     x with lines dashtype 2 linecolor rgb "#b03030" title "observed = predicted"
