#pragma once
// --vectors: the test vectors of the run's datapath, written into the folder it names.

#include <cstdio>
#include <span>

#include "fixfir/coefficients/datapath.h"
#include "fixfir/report/report_options.h"

namespace fixfir {

// 0 when --vectors is not given or its folder can be written into (it is one, or is not
// there yet); else the failure said on `err`, before any work is done.
[[nodiscard]] int refuse_vectors_folder(const report_options& options, std::FILE* err);

// Writes the vectors of `taps` on `d` into --vectors' folder, the waveform test's input made
// from the options, and says so on `out`: the status. 0 when --vectors is not given.
[[nodiscard]] int write_run_vectors(const report_options& options, std::span<const float> taps,
                                    const datapath& d, std::FILE* out, std::FILE* err);

}  // namespace fixfir
