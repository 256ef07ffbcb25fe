// Floor for Scorefit: copies a text file line by line, flushing after every line as
// Scorefit does, and nothing else. Usage: echo_lines INPUT OUTPUT
#include <fstream>
#include <iostream>
#include <string>

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: echo_lines INPUT OUTPUT" << std::endl;
    return 2;
  }
  std::ifstream in(argv[1]);
  std::ofstream out(argv[2]);
  if (!in || !out) {
    std::cerr << "echo_lines: cannot open " << (!in ? argv[1] : argv[2]) << std::endl;
    return 1;
  }
  std::string line;
  while (std::getline(in, line)) out << line << std::endl;
  return out ? 0 : 1;
}
