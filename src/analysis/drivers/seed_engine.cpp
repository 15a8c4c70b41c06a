#include "fixfir/drivers/seed_engine.h"

#include "engine_view.h"
#include "fixfir/common/checks.h"

namespace fixfir {

namespace {

// The engine's view of `f`, which borrows its coefficients for the call.
quantized_filter seed_view(const fixed_filter& f) noexcept {
  FIXFIR_EXPECTS(is_precision_datapath(f.path));
  return engine_view(f);
}

}  // namespace

outcome seed_stream_init(fir_stream& s, const fixed_filter& f) noexcept {
  return stream_init(s, seed_view(f));
}

outcome seed_filter_samples(const fixed_filter& f, const sample_source& x, std::int32_t* out,
                            unsigned threads) noexcept {
  return filter_samples(seed_view(f), x, out, threads);
}

}  // namespace fixfir
