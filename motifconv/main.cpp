#include <string>
#include <vector>

#include "motifconv/motifconv.h"

int main(int argc, char* argv[]) {
  return RunMotifconv(std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc));
}
