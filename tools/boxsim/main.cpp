// boxsim: a stand-in for a timing box, for tests, benchmarks and the demo.
#include <cstdio>
#include <string>

#include "box_simulator.h"
#include "boxsim_options.h"

int main(int argc, char** argv) {
  lapora::boxsim::Options options;
  bool help = false;
  std::string error;
  if (!lapora::boxsim::ParseOptions(argc, argv, options, help, error)) {
    std::fprintf(stderr, "boxsim: %s\n(boxsim --help lists the options)\n", error.c_str());
    return 2;
  }
  if (help) {
    std::fputs(lapora::boxsim::Usage().c_str(), stdout);
    return 0;
  }
  lapora::boxsim::CBoxSimulator simulator(options);
  return simulator.Run();
}
