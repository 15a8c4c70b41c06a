// fixfir-report: plots and a numeric summary of what fixed point does to the filter.
#include <csignal>
#include <cstdio>
#include <span>

#include "fixfir/report/report_app.h"

int main(int argc, char** argv) {
  // Past a file-size limit (ulimit -f) a write then fails with "File too large", which the
  // run reports, removing its temporary files, instead of ending at once without a word.
  std::signal(SIGXFSZ, SIG_IGN);
  const std::span<const char* const> args(argv + (argc > 0 ? 1 : 0),
                                          static_cast<std::size_t>(argc > 0 ? argc - 1 : 0));
  return fixfir::run_report(args, stdout, stderr);
}
