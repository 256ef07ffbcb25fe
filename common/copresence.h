#pragma once

// log10(a / b) when both a and b are above `floor`, otherwise 0.
double Log10RatioAbove(double a, double b, double floor);
