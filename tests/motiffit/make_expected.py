#!/usr/bin/python3
"""Writes the least-squares fit of a presence table as an independent reference: numpy's
lstsq (a singular value decomposition) for the coefficients, the pseudo-inverse for their
standard errors, and the t distribution's tail from a continued fraction of the incomplete
beta function, so that nothing is shared with the program under test.

    /usr/bin/python3 tests/motiffit/make_expected.py \\
        tests/cli/sitecount/example_format1/expected/files/table.tab \\
        > tests/motiffit/example_fit_expected.tab

Output, tab-separated, every number with 17 significant digits: the lines rows, rank,
r_squared, adjusted_r_squared, residual_se, then a line per term (Intercept first, then
each motif column in table order): label, estimated (1 or 0), coefficient, standard error,
t value, p value, standardised coefficient.
"""
import math
import sys

import numpy


def incomplete_beta(a, b, x):
    """The regularised incomplete beta function I_x(a, b), by Lentz's continued fraction."""
    if x <= 0.0:
        return 0.0
    if x >= 1.0:
        return 1.0
    if x > (a + 1.0) / (a + b + 2.0):
        return 1.0 - incomplete_beta(b, a, 1.0 - x)
    log_front = (math.lgamma(a + b) - math.lgamma(a) - math.lgamma(b)
                 + a * math.log(x) + b * math.log1p(-x))
    tiny = 1e-300
    c, d = 1.0, 1.0 - (a + b) * x / (a + 1.0)
    d = 1.0 / (d if abs(d) > tiny else tiny)
    fraction = d
    for m in range(1, 10000):
        for numerator in (m * (b - m) * x / ((a + 2 * m - 1) * (a + 2 * m)),
                          -(a + m) * (a + b + m) * x / ((a + 2 * m) * (a + 2 * m + 1))):
            d = 1.0 + numerator * d
            d = 1.0 / (d if abs(d) > tiny else tiny)
            c = 1.0 + numerator / c
            c = c if abs(c) > tiny else tiny
            fraction *= d * c
        if abs(d * c - 1.0) < 1e-16:
            break
    return math.exp(log_front) * fraction / a


def two_sided_p(t, degrees):
    return incomplete_beta(degrees / 2.0, 0.5, degrees / (degrees + t * t))


def main():
    with open(sys.argv[1]) as table:
        header = table.readline().rstrip("\n").split("\t")
        rows = [line.rstrip("\n").split("\t") for line in table if line.strip("\t\n")]
    labels = header[2:]
    data = numpy.array([[float(cell) for cell in row] for row in rows])
    y = data[:, 1]
    x = data[:, 2:]
    n = len(y)
    # The only columns without an estimate in the example are those that are all zero.
    kept = [j for j in range(x.shape[1]) if numpy.any(x[:, j] != 0)]
    design = numpy.column_stack([numpy.ones(n), x[:, kept]])
    beta, _, rank, _ = numpy.linalg.lstsq(design, y, rcond=None)
    assert rank == design.shape[1], "collinear columns other than all-zero ones"
    residual = y - design @ beta
    rss = float(residual @ residual)
    tss = float(((y - y.mean()) ** 2).sum())
    degrees = n - rank
    sigma = math.sqrt(rss / degrees)
    pseudo_inverse = numpy.linalg.pinv(design)
    errors = sigma * numpy.sqrt((pseudo_inverse ** 2).sum(axis=1))
    r_squared = 1.0 - rss / tss

    def number(value):
        return "%.17g" % value

    print("rows\t%d" % n)
    print("rank\t%d" % rank)
    print("r_squared\t" + number(r_squared))
    print("adjusted_r_squared\t" + number(1.0 - (1.0 - r_squared) * (n - 1) / degrees))
    print("residual_se\t" + number(sigma))
    terms = [("Intercept", 0, None)] + [(labels[j], kept.index(j) + 1 if j in kept else None, j)
                                        for j in range(len(labels))]
    y_spread = y.std(ddof=1)
    for label, position, column in terms:
        if position is None:
            print("\t".join([label, "0", "0", "nan", "nan", "nan", "0"]))
            continue
        t = beta[position] / errors[position]
        standardised = (beta[position] * x[:, column].std(ddof=1) / y_spread
                        if column is not None else float("nan"))
        print("\t".join([label, "1", number(beta[position]), number(errors[position]), number(t),
                         number(two_sided_p(t, degrees)), number(standardised)]))


if __name__ == "__main__":
    main()
