#include "common/copresence.h"

#include <cmath>

double Log10RatioAbove(double a, double b, double floor) {
  if (a > floor && b > floor) return std::log10(a / b);
  return 0;
}
