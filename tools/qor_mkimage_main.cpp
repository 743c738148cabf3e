// qor-mkimage: builds and inspects upgrade images.
#include <iostream>
#include <string>
#include <vector>

#include "tools/MkImageCli.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  return RunMkImage(args, std::cout, std::cerr);
}
