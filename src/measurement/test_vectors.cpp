#include "fixfir/measurement/test_vectors.h"

#include <cmath>
#include <filesystem>
#include <new>
#include <system_error>

#include "fixfir/common/output_file.h"
#include "fixfir/drivers/datapath_run.h"

namespace fixfir {

namespace {

std::int64_t largest_word(std::int32_t bits) noexcept {
  return static_cast<std::int64_t>((std::uint64_t{1} << (bits - 1)) - 1);
}

// The low `bits` bits of `u` as a two's-complement value (bits 2 to 64).
std::int64_t low_word(std::uint64_t u, std::int32_t bits) noexcept {
  if (bits < 64) {
    const std::uint64_t mask = (std::uint64_t{1} << bits) - 1;
    u &= mask;
    if (((u >> (bits - 1)) & 1U) != 0) u |= ~mask;
  }
  return static_cast<std::int64_t>(u);
}

std::uint64_t splitmix64(std::uint64_t& state) noexcept {
  std::uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  return z ^ (z >> 31);
}

// Appends `words` as stimulus `s`, then `zeros` zeros of the same stimulus.
void append(std::vector<std::int64_t>& out, std::vector<stimulus>& kind, stimulus s,
            const std::vector<std::int64_t>& words, std::size_t zeros) {
  out.insert(out.end(), words.begin(), words.end());
  out.insert(out.end(), zeros, 0);
  kind.insert(kind.end(), words.size() + zeros, s);
}

}  // namespace

const char* stimulus_name(stimulus s) noexcept {
  switch (s) {
    case stimulus::step:
      return "step";
    case stimulus::max_sum:
      return "max-sum";
    case stimulus::min_sum:
      return "min-sum";
    case stimulus::waveform:
      return "waveform";
    case stimulus::random:
      return "random";
    case stimulus::impulse:
      break;
  }
  return "impulse";
}

std::vector<std::int64_t> stimulus_words(const fixed_filter& f, std::span<const double> waveform,
                                         std::vector<stimulus>& kind) {
  const word_format& w = f.path.sample;
  const std::size_t taps = std::max<std::size_t>(f.coefficients.size(), 1);
  const std::size_t zeros = taps - 1;
  const std::int64_t most = largest_word(w.bits);
  const std::int64_t least = -most - 1;
  std::vector<std::int64_t> out;
  kind.clear();
  append(out, kind, stimulus::impulse, {most}, zeros);
  append(out, kind, stimulus::step, std::vector<std::int64_t>(taps, most), zeros);
  // Sample n meets tap N − 1 − n when the last of them comes in.
  std::vector<std::int64_t> signs(taps, 0);
  for (std::size_t n = 0; n < f.coefficients.size(); ++n) {
    const std::int32_t c = f.coefficients[f.coefficients.size() - 1 - n];
    signs[n] = c > 0 ? 1 : c < 0 ? -1 : 0;
  }
  std::vector<std::int64_t> words(taps);
  for (std::size_t n = 0; n < taps; ++n) words[n] = signs[n] > 0 ? most : signs[n] < 0 ? least : 0;
  append(out, kind, stimulus::max_sum, words, zeros);
  for (std::size_t n = 0; n < taps; ++n) words[n] = signs[n] > 0 ? least : signs[n] < 0 ? most : 0;
  append(out, kind, stimulus::min_sum, words, zeros);
  words.clear();
  for (const double x : waveform) words.push_back(quantize_word(x, w).value);
  append(out, kind, stimulus::waveform, words, zeros);
  words.clear();
  std::uint64_t state = VECTOR_SEED;
  for (std::size_t k = 0; k < RANDOM_VECTOR_WORDS; ++k)
    words.push_back(low_word(splitmix64(state), w.bits));
  append(out, kind, stimulus::random, words, zeros);
  return out;
}

result<test_vectors> make_test_vectors(const fixed_filter& f, std::span<const double> waveform,
                                       unsigned threads) noexcept {
  try {
    test_vectors v;
    v.input = stimulus_words(f, waveform, v.kind);
    // Each word as the real value it stands for: quantizing it gives the word back exactly.
    std::vector<double> x;
    x.reserve(v.input.size());
    for (const std::int64_t word : v.input)
      x.push_back(std::ldexp(static_cast<double>(word), -f.path.sample.fraction_bits));
    result<datapath_run> run = run_datapath(f, x, threads);
    if (!run) return std::move(run).failure();
    datapath_run& r = run.value();
    v.accumulator = std::move(r.accumulators);
    v.output = f.path.output.bits != 0 ? std::move(r.output_words) : v.accumulator;
    return v;
  } catch (const std::bad_alloc&) {
    return out_of_memory_error();
  }
}

std::string mem_text(std::span<const std::int64_t> words, std::int32_t bits) {
  static constexpr char digits[] = "0123456789abcdef";
  const std::int32_t count = (bits + 3) / 4;
  const std::uint64_t mask = bits >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << bits) - 1;
  std::string text;
  text.reserve(words.size() * static_cast<std::size_t>(count + 1));
  for (const std::int64_t word : words) {
    const std::uint64_t u = static_cast<std::uint64_t>(word) & mask;
    for (std::int32_t k = count - 1; k >= 0; --k) text += digits[(u >> (4 * k)) & 0xFU];
    text += '\n';
  }
  return text;
}

std::string vectors_csv(const test_vectors& v) {
  std::string text = "index,stimulus,input,accumulator,output\n";
  for (std::size_t i = 0; i < v.input.size(); ++i) {
    text += std::to_string(i) + ',' + stimulus_name(v.kind[i]) + ',' + std::to_string(v.input[i]) +
            ',' + std::to_string(v.accumulator[i]) + ',' + std::to_string(v.output[i]) + '\n';
  }
  return text;
}

outcome write_test_vectors(const std::string& dir, const test_vectors& v, const datapath& d) {
  std::error_code e;
  const std::filesystem::path folder(dir);
  if (std::filesystem::exists(folder, e) && !std::filesystem::is_directory(folder, e))
    return make_error(error_kind::bad_input, dir + " is not a folder");
  std::filesystem::create_directories(folder, e);
  if (e) return make_error(error_kind::cannot_write, "cannot make " + dir + ": " + e.message());
  const std::int32_t output_bits = d.output.bits != 0 ? d.output.bits : d.accumulator_bits;
  const named_text files[] = {{"input.mem", mem_text(v.input, d.sample.bits)},
                              {"expected.mem", mem_text(v.output, output_bits)},
                              {"vectors.csv", vectors_csv(v)}};
  return replace_files(folder, files);
}

}  // namespace fixfir
