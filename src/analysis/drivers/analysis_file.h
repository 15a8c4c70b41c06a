#pragma once
// The tail both analyses share: their text into a freshly opened output file, every
// failure reported as one console message and a status.

#include <cstdio>
#include <functional>
#include <string_view>

#include "records.h"

namespace fixfir {

/// Hands an analysis's text to `write` piece by piece, in order. Returns false when memory
/// ran out part way.
using text_producer = std::function<bool(const std::function<void(std::string_view)>& write)>;

/// Creates or truncates `name`, fills it from `produce` and closes it. A file that cannot be
/// opened gives "Cannot open output file\n" on `console` and `failure`; a write or close
/// that fails gives "Cannot write output file\n" and `failure`; memory running out gives
/// `out_of_memory`. Callers allocate what they need before, so that a run that cannot
/// start leaves an earlier file as it was.
status write_analysis_file(const char* name, std::FILE* console,
                           const text_producer& produce) noexcept;

}  // namespace fixfir
