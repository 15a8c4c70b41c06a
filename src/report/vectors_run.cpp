#include "vectors_run.h"

#include <filesystem>
#include <string>
#include <system_error>

#include "fixfir/coefficients/fixed_filter.h"
#include "fixfir/engine/parallel_chunks.h"
#include "fixfir/measurement/test_vectors.h"
#include "fixfir/measurement/waveform_model.h"
#include "fixfir/report/printable_text.h"
#include "fixfir/report/report_output.h"

namespace fixfir {

namespace {

error vectors_error(const error& e) {
  return make_error(e.kind == error_kind::bad_input ? error_kind::failed : e.kind,
                    "--vectors: " + e.message);
}

}  // namespace

int refuse_vectors_folder(const report_options& options, std::FILE* err) {
  if (options.vectors_dir.empty()) return 0;
  std::error_code e;
  const std::filesystem::path folder(options.vectors_dir);
  if (std::filesystem::exists(folder, e) && !std::filesystem::is_directory(folder, e)) {
    return say_failure(err, make_error(error_kind::failed,
                                       "--vectors: " + options.vectors_dir + " is not a folder"));
  }
  return 0;
}

int write_run_vectors(const report_options& options, std::span<const float> taps, const datapath& d,
                      std::FILE* out, std::FILE* err) {
  if (options.vectors_dir.empty()) return 0;
  const unsigned threads = worker_count();
  result<fixed_filter> f = make_fixed_filter(taps, d);
  if (!f) return say_failure(err, vectors_error(f.failure()));
  result<waveform_signal> signal = make_waveform_signal(options.frequencies, threads);
  if (!signal) return say_failure(err, vectors_error(signal.failure()));
  const result<test_vectors> v = make_test_vectors(f.value(), signal.value().input, threads);
  if (!v) return say_failure(err, vectors_error(v.failure()));
  if (const outcome written = write_test_vectors(options.vectors_dir, v.value(), d); !written)
    return say_failure(err, vectors_error(written.failure()));
  const std::string text = "vectors: " + std::to_string(v.value().input.size()) + " samples in " +
                           printable(options.vectors_dir) +
                           " (input.mem, expected.mem, vectors.csv)\n";
  const outcome put = put_out(out, text);
  return put ? 0 : say_failure(err, put.failure());
}

}  // namespace fixfir
