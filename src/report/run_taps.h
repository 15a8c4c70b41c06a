#pragma once
// The taps a run of fixfir-report reads from D/taps.txt, and the reading of them.

#include <cstdio>
#include <span>
#include <string>

#include "fixfir/common/records.h"
#include "fixfir/common/result.h"
#include "fixfir/report/report_options.h"

namespace fixfir {

// The taps of a run, read from D/taps.txt.
struct run_taps {
  std::string path;  // as the messages show it
  tap_list list;
};

// The taps of `read`, as the measurements take them.
[[nodiscard]] inline std::span<const float> taps_of(const run_taps& read) {
  return {read.list.taps.begin(), static_cast<std::size_t>(read.list.count)};
}

// Reads D/taps.txt as fixfir does, for any run, and refuses a file fixfir reads with gaps,
// with a tap that is not a finite number, or that cannot be read: a `failed` error, as a
// file the run cannot use is a failed run (status 1). Numbers after the taps, which fixfir
// never reads (a count one short, say), are said on `err`, and the run goes on.
[[nodiscard]] result<run_taps> read_run_taps(const report_options& options, std::FILE* err);

}  // namespace fixfir
