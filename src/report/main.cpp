// fixfir-report: plots and a numeric summary of what fixed point does to the filter.
#include <cstdio>
#include <span>

#include "fixfir/report/report_app.h"

int main(int argc, char** argv) {
  const std::span<const char* const> args(argv + (argc > 0 ? 1 : 0),
                                          static_cast<std::size_t>(argc > 0 ? argc - 1 : 0));
  return fixfir::run_report(args, stdout, stderr);
}
