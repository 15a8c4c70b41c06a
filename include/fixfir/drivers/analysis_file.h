#pragma once
// The tail both analyses share: their text into a freshly opened output file, every
// failure reported as one console message and a status.

#include <cstdio>
#include <functional>
#include <string_view>

#include "fixfir/common/records.h"

namespace fixfir {

/// Takes the next piece of an analysis's text. Returns false when the text can go nowhere
/// (the file could not be opened); the producer then stops.
using text_writer = std::function<bool(std::string_view)>;

/// Hands an analysis's text to `write` piece by piece, in order. Returns false when memory
/// ran out part way, or when `write` returned false.
using text_producer = std::function<bool(const text_writer& write)>;

/// Fills `name` from `produce` and closes it. The text goes to a new file that takes the
/// place of an earlier one only once it is whole (open_output), so a write that fails, or
/// memory running out part way, leaves the earlier file as it was. A file
/// that cannot be opened gives "Cannot open output file\n" on `console` and `failure`; a
/// write or close that fails gives "Cannot write output file\n" and `failure`; memory
/// running out gives `out_of_memory`.
status write_analysis_file(const char* name, std::FILE* console,
                           const text_producer& produce) noexcept;

}  // namespace fixfir
