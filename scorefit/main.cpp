#include <string>
#include <vector>

#include "scorefit/scorefit.h"

int main(int argc, char** argv) {
  return RunScorefit(std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc));
}
