#include <string>
#include <vector>

#include "sitecount/sitecount.h"

int main(int argc, char* argv[]) {
  return RunSitecount(std::vector<std::string>(argv + 1, argv + argc));
}
