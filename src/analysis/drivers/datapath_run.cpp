// PLACEHOLDER: a plain model until the engine's 64-bit path lands.
#include "fixfir/drivers/datapath_run.h"

#include <cmath>
#include <new>

namespace fixfir {

result<datapath_run> run_datapath(const fixed_filter& f, std::span<const double> x,
                                  unsigned) noexcept {
  try {
    __extension__ using int128 = __int128;
    datapath_run run;
    std::vector<std::int64_t> s(x.size());
    for (std::size_t n = 0; n < x.size(); ++n) {
      const word_value w = quantize_word(x[n], f.path.sample);
      s[n] = w.value;
      if (w.overflowed) ++run.sample_overflows;
    }
    run.accumulators.resize(x.size());
    run.output.resize(x.size());
    const std::int32_t a = f.path.accumulator_bits;
    const int128 hi = (int128{1} << (a - 1)) - 1;
    const int128 lo = -(int128{1} << (a - 1));
    const int128 modulus = int128{1} << a;
    for (std::size_t n = 0; n < x.size(); ++n) {
      int128 sum = 0;
      for (std::size_t j = 0; j < f.coefficients.size() && j <= n; ++j)
        sum += int128{f.coefficients[j]} * s[n - j];
      if (sum > hi || sum < lo) {
        ++run.accumulator_overflows;
        if (f.path.accumulator_overflow == overflow_mode::saturate) {
          sum = sum > hi ? hi : lo;
        } else {
          sum %= modulus;
          if (sum > hi) sum -= modulus;
          if (sum < lo) sum += modulus;
        }
      }
      run.accumulators[n] = static_cast<std::int64_t>(sum);
      run.output[n] = std::ldexp(static_cast<double>(run.accumulators[n]),
                                 -(f.path.coefficient.fraction_bits + f.path.sample.fraction_bits));
    }
    return run;
  } catch (const std::bad_alloc&) {
    return out_of_memory_error();
  }
}

}  // namespace fixfir
