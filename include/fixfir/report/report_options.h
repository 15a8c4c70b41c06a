#pragma once
// Command-line options of fixfir-report.

#include <cstdint>
#include <limits>
#include <span>
#include <string>

#include "fixfir/coefficients/datapath.h"
#include "fixfir/common/records.h"
#include "fixfir/common/result.h"
#include "fixfir/measurement/bands.h"
#include "fixfir/measurement/datapath_search.h"
#include "fixfir/measurement/recommendation.h"
#include "fixfir/measurement/wrap_checks.h"

namespace fixfir {

/// What the report is asked to measure, and where.
struct report_options {
  std::int32_t precision = 0;
  frequency_settings frequencies;
  std::int32_t sweep_step = 0;  ///< the sweep's step; the frequency step unless given
  std::string dir = ".";        ///< where "taps.txt" is read and the pictures are written
  band_plan bands;              ///< --passband and --stopband, each kind given or not
  bool scan = false;            ///< --scan: every precision from 0 to 30
  bool html = false;            ///< --html: also D/report.html, the page with everything
  bool explore = false;         ///< --explore: search the datapaths for the cheapest
  cost_model cost = cost_model::multiplier;  ///< --cost: what --explore minimises
  precision_targets targets{std::numeric_limits<double>::quiet_NaN(),
                            std::numeric_limits<double>::quiet_NaN(),
                            std::numeric_limits<double>::quiet_NaN()};  ///< NaN: default
  /// --coefficient-bits to --overflow, and the precision when --precision is given: the
  /// datapath the summary is measured on and the coefficients are exported on
  /// (datapath_from_choices); with --explore, the axes the search keeps fixed.
  datapath_choices datapath;
  std::string export_file;  ///< --export: write the coefficient words here, and nothing else
  std::string vectors_dir;  ///< --vectors: write the test vectors into this folder
};

/// What the arguments ask for when they make sense: a run, the usage on standard output
/// (--help), the usage on standard error as a refusal (no arguments at all), or the version.
enum class option_action { run, help, usage, version };

/// The text that --help prints.
extern const char* const report_usage;

/// The version --version prints, the project's.
extern const char* const report_version;

/// Parses the arguments after the program name. Options take their value as the next
/// argument or after "=". Arguments that make no sense are a bad_input error whose message
/// says what is wrong in one line.
[[nodiscard]] result<option_action> parse_report_options(std::span<const char* const> args,
                                                         report_options& options);

}  // namespace fixfir
