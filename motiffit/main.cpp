#include <string>
#include <vector>

#include "motiffit/motiffit.h"

int main(int argc, char* argv[]) {
  return RunMotiffit(std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc));
}
