#!/usr/bin/python3
"""Writes independent reference fits of presence tables, run once to make the expected
files of tests/motiffit (Debian's python3-numpy and python3-sklearn):

    T=tests/cli/sitecount/example_format1/expected/files/table.tab
    /usr/bin/python3 tests/motiffit/make_expected.py ols $T 5 > tests/motiffit/example_fit_expected.tab
    /usr/bin/python3 tests/motiffit/make_expected.py penalised $T > tests/motiffit/example_penalised_expected.tab
    /usr/bin/python3 tests/motiffit/make_expected.py collinear-table > tests/motiffit/collinear_table.tab
    /usr/bin/python3 tests/motiffit/make_expected.py ols tests/motiffit/collinear_table.tab 1 \\
        > tests/motiffit/collinear_fit_expected.tab

ols TABLE FOLDS: numpy's lstsq (a singular value decomposition) for the coefficients, the
pseudo-inverse for their standard errors, the t distribution's tail from a continued
fraction of the incomplete beta function, Benjamini-Hochberg q-values by a cumulative
minimum, and the cross-validated R-squared from lstsq refitted without each fold (row i in
fold i mod FOLDS), so that nothing is shared with the program under test. Tab-separated,
every number with 17 significant digits: the lines rows, rank, r_squared,
adjusted_r_squared, residual_se, cv_r_squared, then a line per term (Intercept first, then
each motif column in table order): label, estimated (1 or 0), coefficient, standard error,
t value, p value, standardised coefficient, q value.

penalised TABLE: scikit-learn's ElasticNet (lasso and elastic net) and Ridge at fixed
lambdas on the columns standardised to variance 1 (divided by n), constant columns left
out, coefficients brought back to the table's units. One line per fit: penalty, alpha,
lambda, the intercept, then one coefficient per motif column.

collinear-table: a table of 300 rows whose fourth motif column is the sum of the first two
plus a small count in one row of ten, so that it is nearly, not exactly, collinear.
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


def read_table(path):
    with open(path) as table:
        header = table.readline().rstrip("\n").split("\t")
        rows = [line.rstrip("\n").split("\t") for line in table if line.strip("\t\n")]
    data = numpy.array([[float(cell) for cell in row] for row in rows])
    return header[2:], data[:, 2:], data[:, 1]


def varying(x):
    """The columns that are not constant."""
    return [j for j in range(x.shape[1]) if numpy.any(x[:, j] != x[0, j])]


def q_values(p):
    """Benjamini-Hochberg: m p_(i) / i, then the smallest of those at and above each rank."""
    order = numpy.argsort(p, kind="stable")
    ranked = p[order] * len(p) / numpy.arange(1, len(p) + 1)
    ranked = numpy.minimum(1.0, numpy.minimum.accumulate(ranked[::-1])[::-1])
    q = numpy.empty(len(p))
    q[order] = ranked
    return q


def cross_validated_r_squared(x, y, folds):
    if folds < 2:
        return float("nan")
    index = numpy.arange(len(y))
    held_out = 0.0
    for fold in range(folds):
        train, test = index % folds != fold, index % folds == fold
        kept = varying(x[train])
        design = numpy.column_stack([numpy.ones(train.sum()), x[train][:, kept]])
        beta, _, rank, _ = numpy.linalg.lstsq(design, y[train], rcond=None)
        assert rank == design.shape[1], "collinear columns in a training set"
        predicted = beta[0] + x[test][:, kept] @ beta[1:]
        held_out += float(((y[test] - predicted) ** 2).sum())
    return 1.0 - held_out / float(((y - y.mean()) ** 2).sum())


def penalised(path):
    from sklearn.linear_model import ElasticNet, Ridge
    labels, x, y = read_table(path)
    n = len(y)
    kept = varying(x)
    means = x[:, kept].mean(axis=0)
    spreads = x[:, kept].std(axis=0)
    z = (x[:, kept] - means) / spreads
    for penalty, alpha, lam in (("ridge", 0.0, 0.05), ("lasso", 1.0, 0.01),
                                ("elastic", 0.5, 0.02)):
        if penalty == "ridge":
            model = Ridge(alpha=n * lam, fit_intercept=True, tol=1e-14)
        else:
            model = ElasticNet(alpha=lam, l1_ratio=alpha, fit_intercept=True, tol=1e-15,
                               max_iter=10000000)
        model.fit(z, y)
        coefficients = numpy.zeros(x.shape[1])
        coefficients[kept] = model.coef_ / spreads
        intercept = y.mean() - coefficients[kept] @ means
        print("\t".join([penalty, "%.17g" % alpha, "%.17g" % lam, "%.17g" % intercept]
                        + ["%.17g" % c for c in coefficients]))


def collinear_table():
    rng = numpy.random.default_rng(20261209)
    rows = 300
    a, b, d = (rng.poisson(2.0, rows) for _ in range(3))
    c = a + b + (numpy.arange(rows) % 10 == 0) * rng.poisson(1.0, rows)
    y = 1.0 + 0.3 * a - 0.2 * b + 0.1 * c + 0.25 * d + rng.normal(0.0, 0.2, rows)
    print("Peak score\tLn(Peak score)\ta\tb\td\tc")
    for row in range(rows):
        print("%.17g\t%.17g\t%d\t%d\t%d\t%d" % (math.exp(y[row]), y[row], a[row], b[row],
                                                 d[row], c[row]))


def main():
    mode = sys.argv[1]
    if mode == "penalised":
        return penalised(sys.argv[2])
    if mode == "collinear-table":
        return collinear_table()
    labels, x, y = read_table(sys.argv[2])
    folds = int(sys.argv[3])
    n = len(y)
    # The only columns without an estimate in these tables are the constant ones.
    kept = varying(x)
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
    print("cv_r_squared\t" + number(cross_validated_r_squared(x, y, folds)))
    column_p = {}
    for position, j in enumerate(kept):
        t = beta[position + 1] / errors[position + 1]
        column_p[j] = two_sided_p(t, degrees)
    q = dict(zip(column_p, q_values(numpy.array(list(column_p.values())))))
    terms = [("Intercept", 0, None)] + [(labels[j], kept.index(j) + 1 if j in kept else None, j)
                                        for j in range(len(labels))]
    y_spread = y.std(ddof=1)
    for label, position, column in terms:
        if position is None:
            print("\t".join([label, "0", "0", "nan", "nan", "nan", "0", "nan"]))
            continue
        t = beta[position] / errors[position]
        standardised = (beta[position] * x[:, column].std(ddof=1) / y_spread
                        if column is not None else float("nan"))
        print("\t".join([label, "1", number(beta[position]), number(errors[position]), number(t),
                         number(two_sided_p(t, degrees)), number(standardised),
                         number(q[column]) if column is not None else "nan"]))


if __name__ == "__main__":
    main()
