// The engine against the straightforward filter: the same random samples through both
// must give the same accumulators, sample by sample.

#include "fast_kernel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <tuple>
#include <vector>

#include "fast_test_support.h"
#include "fixfir/engine/fir_engine.h"
#include "fixfir/engine/fir_stream.h"
#include "fixfir/engine/parallel_chunks.h"
#include "fixfir/reference/fir_reference.h"

namespace fixfir {
namespace {

using testing::random_filter;
using testing::random_signal;

// Every kernel variant built and runnable here (the plain one always): each must give the
// same results, as the loader may pick any of them.
std::vector<kernel_variant> variants() {
  std::vector<kernel_variant> out;
  for (const kernel_variant v :
       {kernel_variant::plain, kernel_variant::avx2, kernel_variant::avx512}) {
    if (kernel_variant_supported(v)) out.push_back(v);
  }
  return out;
}

// `quantize_block` and `peak_magnitude` through every variant: each must agree with the
// plain one, whose result the tests then hold to the scalar reference.
void quantize_all(double scale, const double* x, std::uint32_t* out, std::size_t n) {
  const std::vector<std::uint32_t> before(out, out + n + 1);
  kernels(kernel_variant::plain).quantize(scale, x, out, n);
  for (const kernel_variant v : variants()) {
    std::vector<std::uint32_t> other = before;
    kernels(v).quantize(scale, x, other.data(), n);
    EXPECT_TRUE(std::equal(other.begin(), other.end(), out)) << "variant " << static_cast<int>(v);
  }
}

std::int32_t peak_all(const std::uint32_t* acc, std::size_t n) {
  const std::int32_t peak = kernels(kernel_variant::plain).peak(acc, n);
  for (const kernel_variant v : variants()) {
    EXPECT_EQ(kernels(v).peak(acc, n), peak) << "variant " << static_cast<int>(v);
  }
  return peak;
}

// Tap counts around the vector widths (16 lanes, blocks of 32) and well beyond them.
constexpr std::int32_t tap_counts[] = {0, 1, 2, 7, 15, 16, 17, 31, 32, 33, 63, 64, 65, 255, 1023};

// The engine's accumulators for `x` from rest, on `threads` threads.
std::vector<std::int32_t> engine_accumulators(const quantized_filter& filter,
                                              const std::vector<double>& x, unsigned threads) {
  std::vector<std::int32_t> out(x.size());
  EXPECT_TRUE(filter_signal(filter, x.data(), x.size(), out.data(), threads).ok());
  return out;
}

// `fir_step` over `x` from rest.
std::vector<std::int32_t> reference_accumulators(const quantized_filter& filter,
                                                 const std::vector<double>& x) {
  fir_state reference;
  EXPECT_TRUE(fir_init(reference, filter));
  std::vector<std::int32_t> out;
  for (const double v : x) out.push_back(fir_step(reference, v));
  return out;
}

// (taps, precision, signal amplitude). Large amplitudes and taps overflow the accumulator.
class FilterSignal
    : public ::testing::TestWithParam<std::tuple<std::int32_t, std::int32_t, double>> {};

TEST_P(FilterSignal, MatchesTheReferenceForAnySignalLength) {
  const auto [count, precision, amplitude] = GetParam();
  const std::uint64_t seed = static_cast<std::uint64_t>(count * 131 + precision);
  const auto owned = random_filter(count, precision, 4.0, seed);
  // Long enough to pass the taps several times, and not a whole number of blocks.
  const auto samples = random_signal(static_cast<std::size_t>(3 * count + 40), amplitude, seed);
  EXPECT_EQ(engine_accumulators(owned.filter, samples, 2),
            reference_accumulators(owned.filter, samples));
}

INSTANTIATE_TEST_SUITE_P(TapsAndPrecisions, FilterSignal,
                         ::testing::Combine(::testing::ValuesIn(tap_counts),
                                            ::testing::Values(0, 1, 15, 20, 30, 31, 32),
                                            ::testing::Values(1.0, 3e4, 1e12)));

// Every precision from 0 to 31 on the length that mixes full vectors and a tail.
class FilterSignalPrecision : public ::testing::TestWithParam<std::int32_t> {};

TEST_P(FilterSignalPrecision, MatchesTheReference) {
  const std::int32_t precision = GetParam();
  const auto owned = random_filter(2 * 16 + 1, precision, 1.0, 99);
  const auto samples = random_signal(200, 2.0, 7 + static_cast<std::uint64_t>(precision));
  EXPECT_EQ(engine_accumulators(owned.filter, samples, 1),
            reference_accumulators(owned.filter, samples));
}

INSTANTIATE_TEST_SUITE_P(Precisions, FilterSignalPrecision, ::testing::Range(0, 32));

// The block convolution against `fir_step` on the real samples: quantize every sample,
// then filter the signal in pieces that start at arbitrary blocks. The double kernel runs
// on the same layout.
// Mirrored taps (odd and even counts) take the folded loop, the others the plain one.
class Convolve : public ::testing::TestWithParam<std::tuple<std::int32_t, bool>> {};

TEST_P(Convolve, MatchesTheReferenceInPiecesFromRest) {
  const auto [count, mirrored] = GetParam();
  const std::uint64_t seed = 1000 + static_cast<std::uint64_t>(count);
  const auto owned = mirrored ? testing::mirrored_filter(count, 20, 2.0, seed)
                              : random_filter(count, 20, 2.0, seed);
  const std::size_t outputs = 8 * CONVOLVE_BLOCK;
  const auto samples = random_signal(outputs, 1e3, 3);

  fir_state reference;
  ASSERT_TRUE(fir_init(reference, owned.filter));
  std::vector<std::int32_t> expected;
  for (const double x : samples) expected.push_back(fir_step(reference, x));

  const std::size_t taps = static_cast<std::size_t>(count);
  std::vector<std::uint32_t> reversed(taps);
  reverse_coefficients(owned.filter.coefficients, count, reversed.data());
  const std::size_t prefix = taps > 0 ? taps - 1 : 0;
  std::vector<std::uint32_t> signal(prefix + outputs, 0u);
  for (std::size_t n = 0; n < outputs; ++n) {
    signal[prefix + n] = static_cast<std::uint32_t>(quantize_sample(reference.scale, samples[n]));
  }
  for (const kernel_variant v : variants()) {
    std::vector<std::uint32_t> acc(outputs, 0xdeadbeefu);
    const std::size_t pieces[] = {0, CONVOLVE_BLOCK, 4 * CONVOLVE_BLOCK, 5 * CONVOLVE_BLOCK,
                                  outputs};
    for (std::size_t p = 0; p + 1 < std::size(pieces); ++p) {
      kernels(v).convolve(reversed.data(), taps, signal.data(), pieces[p],
                          pieces[p + 1] - pieces[p], acc.data() + pieces[p]);
    }
    for (std::size_t n = 0; n < outputs; ++n) {
      ASSERT_EQ(static_cast<std::int32_t>(acc[n]), expected[n])
          << "variant " << static_cast<int>(v) << " output " << n;
    }
  }

  // The double kernel on the same layout, against sums taken one product at a time in
  // 64 bits, on words small enough that every sum is exact in a double.
  std::vector<double> real_reversed(taps);
  std::vector<std::int32_t> words(signal.size() + CONVOLVE_BLOCK);
  for (std::size_t i = 0; i < taps; ++i) {
    real_reversed[i] = static_cast<std::int32_t>(reversed[i]) / 64;
  }
  for (std::size_t n = 0; n < signal.size(); ++n) {
    words[n] = static_cast<std::int32_t>(signal[n]) / 4;
  }
  std::vector<std::int64_t> exact(outputs, 0);
  for (std::size_t n = 0; n < outputs; ++n) {
    for (std::size_t i = 0; i < taps; ++i) {
      exact[n] += static_cast<std::int64_t>(real_reversed[i]) * words[n + i];
    }
    ASSERT_LT(std::abs(exact[n]), std::int64_t{1} << 53);
  }
  for (const kernel_variant v : variants()) {
    std::vector<double> sums(outputs, -1.5);
    const std::size_t pieces[] = {0, 2 * CONVOLVE_BLOCK, 3 * CONVOLVE_BLOCK, outputs};
    for (std::size_t p = 0; p + 1 < std::size(pieces); ++p) {
      kernels(v).convolve_real(real_reversed.data(), taps, words.data(), pieces[p],
                               pieces[p + 1] - pieces[p], sums.data() + pieces[p]);
    }
    for (std::size_t n = 0; n < outputs; ++n) {
      ASSERT_EQ(sums[n], static_cast<double>(exact[n]))
          << "double kernel, variant " << static_cast<int>(v) << " output " << n;
    }
  }
}

// Tap counts below, at and across the block size, and longer than the signal.
INSTANTIATE_TEST_SUITE_P(TapCounts, Convolve,
                         ::testing::Combine(::testing::Values(0, 1, 2, 3, 16, 17, 18, 31, 32, 33,
                                                              47, 63, 64, 65, 66, 67, 97, 255, 300,
                                                              301),
                                            ::testing::Bool()));

// (scale, amplitude): products well inside 32 bits, near 2^31, and far outside 64 bits,
// with the special samples (±1, infinities, NaN) mixed in; every length up to 40 covers
// the vector groups of 8 and the scalar tail.
class QuantizeBlock : public ::testing::TestWithParam<std::tuple<double, double>> {};

TEST_P(QuantizeBlock, MatchesQuantizeSampleForEveryLength) {
  const auto [scale, amplitude] = GetParam();
  const auto x = random_signal(40, amplitude, 11);
  for (std::size_t n = 0; n <= x.size(); ++n) {
    std::vector<std::uint32_t> out(n + 1, 0xdeadbeefu);
    quantize_all(scale, x.data(), out.data(), n);
    for (std::size_t i = 0; i < n; ++i) {
      ASSERT_EQ(static_cast<std::int32_t>(out[i]), quantize_sample(scale, x[i]))
          << "length " << n << " sample " << i << " x " << x[i];
    }
    EXPECT_EQ(out[n], 0xdeadbeefu) << "wrote past the end at length " << n;
  }
}

// Products that leave 32 bits without leaving 64 (up to 3.9 × 2^30 < 2^32) must keep
// their low 32 bits, in blocks where nothing else would send them to the scalar path.
TEST(QuantizeBlock, ProductsPast2To31KeepTheirLow32Bits) {
  const auto x = testing::uniform_signal(64, 3.9, 13);
  std::vector<std::uint32_t> out(x.size() + 1);
  quantize_all(1073741824.0, x.data(), out.data(), x.size());
  for (std::size_t i = 0; i < x.size(); ++i) {
    ASSERT_EQ(static_cast<std::int32_t>(out[i]), quantize_sample(1073741824.0, x[i]))
        << "sample " << i << " x " << x[i];
  }
}

// Only in-range products: the vector conversion alone, with samples of exactly ±1 at a
// scale of -2^31 (a product of exactly 2^31) in a later run.
std::vector<double> unit_signal(std::size_t n) {
  std::vector<double> out(n);
  for (std::size_t i = 0; i < n; ++i) out[i] = std::sin(0.37 * static_cast<double>(i));
  return out;
}

TEST(QuantizeBlock, UnitSamplesAtEveryScaleMatchQuantizeSample) {
  auto x = unit_signal(64);
  for (const double scale : {0.0, 1.0, 32768.0, 1073741824.0, -2147483648.0}) {
    for (const bool with_unit_peaks : {false, true}) {
      if (with_unit_peaks) {
        x[17] = 1.0;
        x[40] = -1.0;
      }
      std::vector<std::uint32_t> out(x.size() + 1);
      quantize_all(scale, x.data(), out.data(), x.size());
      for (std::size_t i = 0; i < x.size(); ++i) {
        ASSERT_EQ(static_cast<std::int32_t>(out[i]), quantize_sample(scale, x[i]))
            << "scale " << scale << " sample " << i;
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(ScalesAndAmplitudes, QuantizeBlock,
                         ::testing::Combine(::testing::Values(1.0, 32768.0, 1073741824.0,
                                                              -2147483648.0),
                                            ::testing::Values(1.0, 2.5, 1e12)));

// Magnitudes with -2^31 (no magnitude), 2^31 - 1 and negatives, at every length up to 40.
TEST(PeakMagnitude, MatchesAScalarMaximumForEveryLength) {
  std::mt19937_64 rng(21);
  for (std::size_t n = 0; n <= 40; ++n) {
    std::vector<std::uint32_t> acc(n);
    for (auto& a : acc) a = static_cast<std::uint32_t>(rng());
    if (n > 3) acc[n / 2] = 0x80000000u;                // -2^31
    if (n > 5 && n % 2 == 0) acc[n - 1] = 0x80000001u;  // -(2^31 - 1)
    std::int32_t expected = 0;
    for (const std::uint32_t a : acc) {
      const auto v = static_cast<std::int32_t>(a);
      if (v != INT32_MIN) expected = std::max(expected, v < 0 ? -v : v);
    }
    EXPECT_EQ(peak_all(acc.data(), n), expected) << "length " << n;
  }
}

TEST(PeakMagnitude, OnlyMinus2To31GivesZero) {
  const std::vector<std::uint32_t> acc(33, 0x80000000u);
  EXPECT_EQ(peak_all(acc.data(), acc.size()), 0);
}

// A stream fed in pieces gives the accumulators of the whole signal from rest, whatever the
// pieces: single samples, fewer samples than taps, random sizes (empty ones too), or all at
// once; read in place or through a reader; and again after a reset.
enum class pieces { single, under_taps, random, whole };
class StreamFilter : public ::testing::TestWithParam<std::tuple<std::int32_t, pieces, bool>> {};

TEST_P(StreamFilter, MatchesTheReferenceInAnyPieces) {
  const auto [count, split, read] = GetParam();
  const auto seed = static_cast<std::uint64_t>(count);
  // Even counts mirrored: the kernel folds those.
  const auto owned = count % 2 == 0 ? testing::mirrored_filter(count, 20, 2.0, seed)
                                    : random_filter(count, 20, 2.0, seed);
  const auto x = random_signal(static_cast<std::size_t>(3 * count + 700), 1e3, seed);
  const std::vector<std::int32_t> expected = reference_accumulators(owned.filter, x);
  fir_stream s;
  ASSERT_TRUE(stream_init(s, owned.filter).ok());
  std::mt19937_64 rng(seed);
  for (int pass = 0; pass < 2; ++pass) {
    std::vector<std::int32_t> got(x.size(), 0x5a5a5a5a);
    for (std::size_t at = 0; at < x.size();) {
      const std::size_t wanted = split == pieces::single       ? 1
                                 : split == pieces::under_taps ? std::max(count - 1, 1)
                                 : split == pieces::random     ? rng() % (2 * x.size() / 5)
                                                               : x.size();
      const std::size_t n = std::min(wanted, x.size() - at);
      const double* piece = x.data() + at;
      sample_source source = contiguous_samples(piece, n);
      if (read) {
        source.contiguous = nullptr;
        source.read = [piece](std::size_t first, std::size_t m, double* out) {
          std::copy(piece + first, piece + first + m, out);
        };
      }
      ASSERT_TRUE(stream_filter(s, source, got.data() + at, 2).ok());
      at += n;
    }
    EXPECT_EQ(got, expected) << "pass " << pass;
    stream_reset(s);
  }
}

INSTANTIATE_TEST_SUITE_P(TapsAndPieces, StreamFilter,
                         ::testing::Combine(::testing::Values(1, 2, 15, 64, 255, 1023),
                                            ::testing::Values(pieces::single, pieces::under_taps,
                                                              pieces::random, pieces::whole),
                                            ::testing::Bool()));

// A call that is stopped leaves the stream as it was: the next call continues from the
// samples before the stopped one.
TEST(StreamFilter, AStoppedCallLeavesTheHistoryAsItWas) {
  const auto owned = random_filter(40, 15, 1.0, 3);
  const auto x = random_signal(3000, 2.0, 4);
  const std::vector<std::int32_t> expected = reference_accumulators(owned.filter, x);
  fir_stream s;
  ASSERT_TRUE(stream_init(s, owned.filter).ok());
  std::vector<std::int32_t> got(x.size());
  ASSERT_TRUE(stream_filter(s, contiguous_samples(x.data(), 1000), got.data(), 2).ok());
  {
    const keep_going_check no = [] { return false; };
    const keep_going_guard guard(no);
    const outcome stopped =
        stream_filter(s, contiguous_samples(x.data() + 1000, 2000), got.data() + 1000, 2);
    ASSERT_FALSE(stopped.ok());
    EXPECT_EQ(stopped.failure().kind, error_kind::interrupted);
  }
  ASSERT_TRUE(
      stream_filter(s, contiguous_samples(x.data() + 1000, 2000), got.data() + 1000, 2).ok());
  EXPECT_EQ(got, expected);
}

TEST(FilterSignal, AFilterWithoutTapsAlwaysSumsToZero) {
  quantized_filter empty;
  empty.scale = 32768;
  EXPECT_EQ(engine_accumulators(empty, {0.75, -1.0}, 2), (std::vector<std::int32_t>{0, 0}));
  EXPECT_TRUE(engine_accumulators(empty, {}, 2).empty());
}

}  // namespace
}  // namespace fixfir
