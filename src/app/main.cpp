// fixfir: shows what 32-bit fixed-point arithmetic does to an FIR filter.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include "fixfir/app/dialogue.h"
#include "fixfir/common/output_file.h"

namespace {

// A descriptor 0, 1 or 2 that the caller left closed would be handed to the next file
// opened: console text would then land in "frequency.txt". Each closed one is held by
// /dev/null instead, so reading it ends at once and writing to it goes nowhere.
void hold_standard_descriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
      // open takes the lowest free descriptor, which is `fd`.
      if (open("/dev/null", O_RDWR) == -1) return;
    }
  }
}

// A run ended by Ctrl-C (or told to end) keeps the earlier output file and leaves none of
// the new one behind; then it ends as the signal would have ended it.
void end_on_signal(int signal) {
  fixfir::remove_pending_output();
  std::signal(signal, SIG_DFL);
  std::raise(signal);
}

}  // namespace

int main() {
  hold_standard_descriptors();
  // A signal the caller set to be ignored stays ignored.
  for (const int s : {SIGINT, SIGTERM, SIGHUP}) {
    if (std::signal(s, end_on_signal) == SIG_IGN) std::signal(s, SIG_IGN);
  }
  // Past a file-size limit (ulimit -f) a write then fails with "File too large" and the run
  // says so and goes on, as for a full disk, instead of ending at once.
  std::signal(SIGXFSZ, SIG_IGN);
  return fixfir::run_dialogue();
}
