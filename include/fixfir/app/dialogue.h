#pragma once
// The console dialogue: four questions, the tap file, the waveform test and, on request,
// the frequency sweep.

#include <cstdint>
#include <cstdio>

namespace fixfir {

inline constexpr const char* file_not_found_message = "File Not Found\n";
inline constexpr const char* out_of_memory_message = "Out of memory\n";

/// Runs one dialogue on `input` and `console` in the working directory. Returns 0 when
/// the run went through, -1 when "taps.txt" cannot be read or memory ran out.
std::int32_t run_dialogue(std::FILE* input, std::FILE* console);

/// The dialogue on standard input and output.
std::int32_t run_dialogue();

}  // namespace fixfir
