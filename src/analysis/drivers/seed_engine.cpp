#include "fixfir/drivers/seed_engine.h"

#include "fixfir/common/checks.h"
#include "fixfir/drivers/frequency_sweep.h"
#include "fixfir/drivers/multitone_waveform.h"

namespace fixfir {

namespace {

// The engine's view of `f`, which borrows its coefficients for the call.
quantized_filter seed_view(const fixed_filter& f) noexcept {
  FIXFIR_EXPECTS(is_precision_datapath(f.path));
  return engine_filter(f);
}

}  // namespace

outcome seed_stream_init(fir_stream& s, const fixed_filter& f) noexcept {
  return stream_init(s, seed_view(f));
}

outcome seed_filter_samples(const fixed_filter& f, const sample_source& x, std::int32_t* out,
                            unsigned threads) noexcept {
  return filter_samples(seed_view(f), x, out, threads);
}

outcome seed_waveform_init(fir_workspace& ws, const fixed_filter& f) noexcept {
  return waveform_workspace_init(ws, seed_view(f));
}

outcome seed_sweep_init(fir_workspace& ws, const fixed_filter& f, unsigned threads) noexcept {
  return sweep_workspace_init(ws, seed_view(f), threads);
}

}  // namespace fixfir
