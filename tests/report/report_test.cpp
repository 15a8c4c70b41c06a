#include <fcntl.h>
#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numbers>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "fast_test_support.h"
#include "fixfir/coefficients/quantizer.h"
#include "fixfir/common/conversion.h"
#include "fixfir/common/text_format.h"
#include "fixfir/drivers/multitone_waveform.h"
#include "fixfir/reference/fir_reference.h"
#include "fixfir/report/charts.h"
#include "fixfir/report/picture_script.h"
#include "fixfir/report/report_app.h"
#include "fixfir/report/report_html.h"
#include "fixfir/report/report_options.h"
#include "fixfir/report/report_output.h"
#include "fixfir/report/report_progress.h"

namespace fixfir {
namespace {

constexpr double nan = std::numeric_limits<double>::quiet_NaN();

// ---- Exit statuses ------------------------------------------------------------------------

// Input the user must change is a usage error (2); every other failure is status 1.
TEST(ExitStatus, OfEachErrorKind) {
  const std::pair<error_kind, int> table[] = {
      {error_kind::bad_input, 2},   {error_kind::out_of_memory, 1}, {error_kind::cannot_write, 1},
      {error_kind::interrupted, 1}, {error_kind::failed, 1},
  };
  for (const auto& [kind, status] : table)
    EXPECT_EQ(exit_status(kind), status) << static_cast<int>(kind);
}

// Every failure is said in one line under the program's name, whatever its message holds,
// with its kind's status.
TEST(ExitStatus, SayFailureSaysOneLineAndGivesTheStatus) {
  struct row {
    error e;
    const char* said;
    int status;
  };
  const row table[] = {
      {make_error(error_kind::bad_input, "--step must not be 0"),
       "fixfir-report: --step must not be 0\n", 2},
      {make_error(error_kind::failed, "cannot open a\nb/taps.txt: No such file or directory"),
       "fixfir-report: cannot open a\\nb/taps.txt: No such file or directory\n", 1},
      {make_error(error_kind::cannot_write, "cannot write \x1b[2J"),
       "fixfir-report: cannot write \\x1b[2J\n", 1},
      {out_of_memory_error(), "fixfir-report: out of memory\n", 1},
  };
  for (const row& r : table) {
    std::FILE* err = std::tmpfile();
    ASSERT_NE(err, nullptr);
    EXPECT_EQ(say_failure(err, r.e), r.status) << r.e.message;
    std::rewind(err);
    std::string said(256, '\0');
    said.resize(std::fread(said.data(), 1, said.size(), err));
    std::fclose(err);
    EXPECT_EQ(said, r.said);
  }
}

// ---- Options ----------------------------------------------------------------------------

enum class parsed { run, help, usage, version, error };

// What parse_report_options makes of `args`, with its message on an error.
parsed parse_args(const std::vector<const char*>& args, report_options& o, std::string& message) {
  const result<option_action> r = parse_report_options(args, o);
  if (!r) {
    EXPECT_EQ(r.failure().kind, error_kind::bad_input);
    message = r.failure().message;
    return parsed::error;
  }
  switch (r.value()) {
    case option_action::help:
      return parsed::help;
    case option_action::usage:
      return parsed::usage;
    case option_action::version:
      return parsed::version;
    case option_action::run:
      break;
  }
  return parsed::run;
}

struct option_case {
  std::vector<const char*> args;
  const char* message;  // expected part of the error message
};

class BadOptions : public ::testing::TestWithParam<option_case> {};

TEST_P(BadOptions, AreRefusedWithAMessage) {
  const option_case& c = GetParam();
  report_options o;
  std::string message;
  EXPECT_EQ(parse_args(c.args, o, message), parsed::error);
  EXPECT_NE(message.find(c.message), std::string::npos) << message;
  // One line, whatever was typed: no control character reaches the terminal.
  for (const char ch : message) EXPECT_FALSE(static_cast<unsigned char>(ch) < 0x20 || ch == 0x7f);
}

#define BASE "--precision", "15", "--initial", "100", "--ending", "4000"
#define AT_48K                                                                                    \
  "--sample-rate", "48000", "--precision", "15", "--initial", "300", "--step", "150", "--ending", \
      "3000"

INSTANTIATE_TEST_SUITE_P(
    Table, BadOptions,
    ::testing::Values(
        // Every option missing is named in one message.
        option_case{{"--html"}, "missing --precision, --initial, --step and --ending"},
        option_case{{"--scan", "--step", "50"}, "missing --initial and --ending"},
        option_case{{"--precision", "15", "--step", "50", "--ending", "4000"}, "missing --initial"},
        option_case{{BASE}, "missing --step"},
        option_case{{BASE, "--step"}, "--step needs a value"},
        option_case{{BASE, "--step", "fifty"}, "'fifty' is not a whole number"},
        option_case{{BASE, "--step=5.5"}, "'5.5' is not a whole number"},
        option_case{{BASE, "--step="}, "'' is not a whole number"},
        option_case{{BASE, "--step", "+-5"}, "not a whole number"},
        option_case{{BASE, "--step", "3000000000"}, "out of range"},
        option_case{{BASE, "--step", "0"}, "--step must not be 0"},
        option_case{{BASE, "--step", "-50"}, "give --sweep-step"},
        option_case{{BASE, "--step", "50", "--sweep-step", "0"}, "at least 1"},
        // A test of more tones than the measurements sum is refused before hours of sines.
        option_case{{"--precision", "15", "--initial", "-1000000000", "--step", "3", "--ending",
                     "1000000000"},
                    "the waveform test would sum 666666667 tones, more than 32768: give a larger "
                    "--step"},
        option_case{{"--scan", "--initial", "1", "--step", "1", "--ending", "32769"},
                    "would sum 32769 tones"},
        option_case{{"--sample-rate", "48000", "--precision", "15", "--initial", "3", "--step", "3",
                     "--ending", "300000"},
                    "would sum 100000 tones"},
        option_case{{BASE, "--step", "50", "--frobnicate"}, "unknown option '--frobnicate'"},
        option_case{{BASE, "--step", "50", "extra"}, "unexpected argument 'extra'"},
        option_case{{BASE, "--step", "50", "--dir="}, "--dir needs a folder"},
        option_case{{"--help=yes"}, "takes no value"},
        option_case{{BASE, "--step", "50", "--passband", "1800"}, "--passband: '1800' is not"},
        option_case{{BASE, "--step", "50", "--stopband=900:100"}, "LO below HI"},
        option_case{{BASE, "--step", "50", "--passband", "0:1000", "--stopband", "900:8000"},
                    "pass band 0 to 1000 Hz overlaps stop band 900 to 8000 Hz"},
        option_case{{BASE, "--step", "50", "--passband", "0:1000", "--passband", "500:1500"},
                    "pass band 0 to 1000 Hz overlaps pass band 500 to 1500 Hz"},
        // Judged without the other kind, which is inferred later.
        option_case{{BASE, "--step", "50", "--stopband=2000.5:8000", "--stopband=2000.5:8000"},
                    "stop band 2000.5 to 8000 Hz overlaps stop band 2000.5 to 8000 Hz"},
        option_case{{BASE, "--step", "50", "--passband", "0:1e-300"},
                    "pass band 0 to 1e-300 Hz holds no frequency from 4 to 7996 Hz"},
        option_case{{BASE, "--step", "50", "--passband=0:100", "--stopband=7996.5:8000"},
                    "stop band 7996.5 to 8000 Hz holds no frequency"},
        option_case{{BASE, "--step", "50", "--precision", "1\nx"}, "'1\\nx' is not a whole"},
        option_case{{BASE, "--step", "50", "--\x1b[31mred"}, "unknown option '--\\x1b[31mred'"},
        option_case{{BASE, "--step", "50",
                     "\xc2\x9b"
                     "2J"},
                    "unexpected argument '\\xc2\\x9b2J'"},
        option_case{{BASE, "--step", "50", "--passband=\t:1"}, "'\\t:1' is not"},
        option_case{{BASE, "--step", "50", "--min-snr", "inf"},
                    "'inf' is not a number of decibels"},
        // An unknown option close to a known one says which it may have meant.
        option_case{{BASE, "--step", "50", "--precison", "15"},
                    "unknown option '--precison'; did you mean --precision?"},
        option_case{{BASE, "--step=50", "--min-nsr=60"},
                    "unknown option '--min-nsr'; did you mean --min-snr?"},
        option_case{
            {"--scan", "--initial", "100", "--step", "50", "--ending", "4000", "--max-ripple", "x"},
            "'x' is not a number of decibels"},
        // A target is 0 dB or more.
        option_case{{BASE, "--step", "50", "--max-ripple", "-1"},
                    "--max-ripple: '-1' is below 0 dB"},
        option_case{{BASE, "--step", "50", "--min-attenuation=-0.5"},
                    "--min-attenuation: '-0.5' is below 0 dB"},
        option_case{{BASE, "--step", "50", "--min-snr", "-1e-300"},
                    "--min-snr: '-1e-300' is below 0 dB"},
        option_case{{BASE, "--step", "50", "--max-ripple", "1e999"},
                    "'1e999' is not a number of decibels"},
        option_case{{BASE, "--step", "50", "--max-ripple", "nan"},
                    "'nan' is not a number of decibels"},
        // A second value would replace the first without a word; the bands add up instead.
        option_case{{BASE, "--step", "50", "--step", "60"}, "--step is given more than once"},
        option_case{{BASE, "--step", "50", "--initial=200"}, "--initial is given more than once"},
        option_case{{BASE, "--step", "50", "--html", "--html"}, "--html is given more than once"},
        option_case{{BASE, "--step", "50", "--sample-rate", "16000", "--sample-rate=48000"},
                    "--sample-rate is given more than once"},
        option_case{{"--explore", "--initial", "100", "--step", "50", "--ending", "4000", "--cost",
                     "bits", "--cost", "cells"},
                    "--cost is given more than once"},
        option_case{{BASE, "--step", "50", "--vectors", "a", "--vectors", "b"},
                    "--vectors is given more than once"},
        option_case{{"--scan=1"}, "takes no value"}, option_case{{"--html=yes"}, "takes no value"},
        // A sample rate is a plain decimal in range; at it every frequency is in Hz at it,
        // the tones and steps on its grid, the bands within half of it.
        option_case{{BASE, "--step", "50", "--sample-rate", "0"},
                    "--sample-rate: '0' is not a sample rate from 0.000001 to 1000000000000 Hz"},
        option_case{{BASE, "--step", "50", "--sample-rate=-48000"},
                    "'-48000' is not a sample rate"},
        option_case{{BASE, "--step", "50", "--sample-rate", "nan"}, "'nan' is not a sample rate"},
        option_case{{BASE, "--step", "50", "--sample-rate", "inf"}, "'inf' is not a sample rate"},
        option_case{{BASE, "--step", "50", "--sample-rate", "48k"}, "'48k' is not a sample rate"},
        option_case{{BASE, "--step", "50", "--sample-rate", "1e300"},
                    "'1e300' is not a sample rate"},
        option_case{{"--sample-rate", "48000", "--precision", "15", "--initial", "300", "--step",
                     "100", "--ending", "3000"},
                    "--step: 100 Hz is not a multiple of 3 Hz, the spacing of frequencies at "
                    "48000 Hz (nearest: 99 or 102)"},
        option_case{{"--initial", "3e3", "--precision", "15", "--step", "150", "--ending", "x",
                     "--sample-rate", "48000"},
                    "--ending: 'x' is not a number of hertz"},
        option_case{{AT_48K, "--passband", "0:30000"},
                    "'0:30000' is not a band within 0 to 24000 Hz"},
        option_case{{AT_48K, "--passband", "0:6"},
                    "pass band 0 to 6 Hz holds no frequency from 12 to 23988 Hz"},
        option_case{{"--sample-rate", "1e8", "--precision", "15", "--initial", "625000", "--step",
                     "312500", "--ending", "3125000", "--sweep-step", "0"},
                    "the sweep step must be at least 6250 Hz (it is 0)"},
        option_case{{"--scan", "--step", "50", "--ending", "4000"}, "missing --initial"},
        // The datapath options and --export.
        option_case{{BASE, "--step", "50", "--coefficient-bits", "1"},
                    "--coefficient-bits must be 2 to 32"},
        option_case{{BASE, "--step", "50", "--accumulator-bits=65"},
                    "--accumulator-bits must be 8 to 64"},
        option_case{{BASE, "--step", "50", "--sample-precision", "half"},
                    "--sample-precision: 'half' is not a whole number"},
        option_case{{BASE, "--step", "50", "--rounding", "up"},
                    "--rounding: 'up' is not zero, nearest or floor"},
        option_case{{BASE, "--step", "50", "--overflow=clip"},
                    "--overflow: 'clip' is not wrap or saturate"},
        option_case{{"--explore", "--scan", "--initial", "100", "--step", "50", "--ending", "4000"},
                    "--explore and --scan are two searches: give one"},
        option_case{{"--explore", "--initial", "100", "--step", "50", "--ending", "4000",
                     "--coefficient-precision", "14"},
                    "--explore sets the fractions and the overflow itself"},
        option_case{{BASE, "--step", "50", "--cost", "bits"}, "--cost is what --explore minimises"},
        option_case{
            {"--explore", "--initial", "100", "--step", "50", "--ending", "4000", "--cost", "area"},
            "--cost: 'area' is not multiplier, bits or cells"},
        option_case{{"--scan", "--initial", "100", "--step", "50", "--ending", "4000",
                     "--accumulator-bits", "32"},
                    "use --explore to search datapaths"},
        option_case{{"--export", "taps.h"}, "--export needs --precision or --coefficient-bits"},
        option_case{{"--export=", "--precision", "15"}, "--export needs a file name"},
        option_case{{"--export", "taps.h", "--precision", "31"}, "--precision must be 0 to 30"},
        option_case{{"--export", "taps.h", "--coefficient-bits", "33"},
                    "--coefficient-bits must be 2 to 32"},
        option_case{
            {"--export", "taps.h", "--coefficient-bits", "16", "--coefficient-precision", "97"},
            "--coefficient-precision must be -32 to 96"},
        option_case{{"--export", "taps.h", "--precision", "15", "--sample-bits", "0"},
                    "--sample-bits must be 2 to 32"},
        option_case{{"--export", "taps.h", "--precision", "15", "--accumulator-bits", "7"},
                    "--accumulator-bits must be 8 to 64"},
        option_case{{"--export", "taps.mem", "--precision", "15", "--scan"},
                    "leave out --scan and --html"},
        // --export alone refuses what only the measurements use, as each mode does.
        option_case{{"--export", "taps.h", "--precision", "15", "--cost", "bits"},
                    "--export writes the coefficients only and does not use --cost: leave it out"},
        option_case{{"--export", "taps.h", "--precision", "15", "--min-snr", "60"},
                    "does not use --min-snr"},
        option_case{{"--export", "taps.h", "--precision", "15", "--passband", "0:1000"},
                    "does not use --passband"},
        option_case{{"--export", "taps.h", "--coefficient-bits", "16", "--step", "0"},
                    "does not use --step"},
        option_case{{"--sweep-step=0", "--export", "taps.h", "--precision", "15"},
                    "does not use --sweep-step"},
        option_case{{"--export", "taps.h", "--precision", "15", "--initial", "100"},
                    "does not use --initial"},
        // The output stage and the vectors.
        option_case{{BASE, "--step", "50", "--output-bits", "65"}, "--output-bits must be 2 to 64"},
        option_case{{BASE, "--step", "50", "--output-bits", "0"}, "--output-bits must be 2 to 64"},
        option_case{{BASE, "--step", "50", "--output-bits", "12", "--output-precision", "-33"},
                    "--output-precision must be -32 to 96"},
        option_case{{BASE, "--step", "50", "--output-bits", "12", "--output-rounding", "even"},
                    "--output-rounding: 'even' is not zero, nearest, floor or convergent"},
        option_case{{BASE, "--step", "50", "--output-bits", "12", "--output-overflow", "clip"},
                    "--output-overflow: 'clip' is not wrap or saturate"},
        option_case{{BASE, "--step", "50", "--output-overflow", "saturate"},
                    "--output-overflow shapes the output word: give --output-bits too"},
        option_case{{"--export", "taps.h", "--precision", "15", "--output-precision", "3"},
                    "--output-precision shapes the output word"},
        option_case{{BASE, "--step", "50", "--vectors="}, "--vectors needs a folder name"},
        option_case{
            {"--scan", "--initial", "100", "--step", "50", "--ending", "4000", "--vectors", "v"},
            "--vectors writes one datapath's vectors: leave out --scan"},
        option_case{{"--export", "taps.h", "--precision", "15", "--vectors", "v"},
                    "--vectors needs the waveform test"},
        // The search tries toward zero and to nearest, as its usage says.
        option_case{{"--explore", "--initial", "100", "--step", "50", "--ending", "4000",
                     "--rounding", "floor"},
                    "--explore searches rounding toward zero and to nearest: give --rounding zero "
                    "or nearest"}));

// The option an unknown one most likely meant: the nearest within a third of its length
// (dashes aside, a swap of neighbours one edit), or the only one it begins; none when
// nothing is that close or the beginning is shared.
struct suggestion_case {
  const char* typed;
  const char* meant;  // nullptr: no suggestion
};

class Suggestions : public ::testing::TestWithParam<suggestion_case> {};

TEST_P(Suggestions, NameTheNearestOption) {
  const suggestion_case& c = GetParam();
  report_options o;
  std::string message;
  ASSERT_EQ(parse_args({c.typed, "1"}, o, message), parsed::error);
  const std::size_t at = message.find("; did you mean ");
  if (c.meant == nullptr) {
    EXPECT_EQ(at, std::string::npos) << message;
  } else {
    EXPECT_EQ(message.substr(at == std::string::npos ? 0 : at),
              std::string("; did you mean ") + c.meant + "?");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, Suggestions,
    ::testing::Values(
        suggestion_case{"--precison", "--precision"}, suggestion_case{"--Precision", "--precision"},
        suggestion_case{"-precision", "--precision"},
        suggestion_case{"---precision", "--precision"}, suggestion_case{"--stpe", "--step"},
        suggestion_case{"--dri", "--dir"}, suggestion_case{"--versoin", "--version"},
        suggestion_case{"--sweep", "--sweep-step"}, suggestion_case{"--pass", "--passband"},
        suggestion_case{"--min-atenuation", "--min-attenuation"},
        suggestion_case{"--coefficient-bit", "--coefficient-bits"},
        suggestion_case{"--coef", nullptr},  // two options begin so
        suggestion_case{"--frobnicate", nullptr}, suggestion_case{"--x", nullptr},
        suggestion_case{"--", nullptr}, suggestion_case{"-", nullptr}));

// No arguments at all ask for the usage, as a refusal; --version wins over anything but
// --help, and takes no value.
struct action_case {
  std::vector<const char*> args;
  parsed expected;
};

class Actions : public ::testing::TestWithParam<action_case> {};

TEST_P(Actions, AreTheOnesAskedFor) {
  report_options o;
  std::string message;
  EXPECT_EQ(parse_args(GetParam().args, o, message), GetParam().expected) << message;
}

INSTANTIATE_TEST_SUITE_P(
    Table, Actions,
    ::testing::Values(action_case{{}, parsed::usage}, action_case{{""}, parsed::error},
                      action_case{{"--version"}, parsed::version},
                      action_case{{"--precison", "x", "--version"}, parsed::version},
                      action_case{{"--version", "-h"}, parsed::help},
                      action_case{{"--version=1"}, parsed::error},
                      // Targets are the summary's too.
                      action_case{{BASE, "--step", "50", "--min-snr", "60", "--max-ripple=0.1"},
                                  parsed::run}));

// The datapath options that restate the seed's datapath, and --export without the
// waveform test's options.
TEST(Options, DatapathChoicesAndExport) {
  const std::vector<const char*> seed{BASE,
                                      "--step",
                                      "50",
                                      "--coefficient-bits=32",
                                      "--coefficient-precision",
                                      "15",
                                      "--rounding",
                                      "zero",
                                      "--overflow",
                                      "wrap",
                                      "--accumulator-bits",
                                      "32"};
  report_options o;
  std::string message;
  ASSERT_EQ(parse_args(seed, o, message), parsed::run) << message;
  EXPECT_EQ(o.datapath.precision, 15);
  EXPECT_TRUE(o.export_file.empty());

  const std::vector<const char*> exporting{
      "--export",   "out/taps.h", "--coefficient-bits", "16", "--rounding=nearest",
      "--overflow", "saturate",   "--sample-bits",      "12", "--sample-precision",
      "-2"};
  ASSERT_EQ(parse_args(exporting, o, message), parsed::run) << message;
  EXPECT_EQ(o.export_file, "out/taps.h");
  EXPECT_FALSE(o.datapath.precision);
  EXPECT_EQ(o.datapath.coefficient_bits, 16);
  EXPECT_EQ(o.datapath.rounding, rounding_mode::nearest);
  EXPECT_EQ(o.datapath.overflow, overflow_mode::saturate);
  EXPECT_EQ(o.datapath.sample_bits, 12);
  EXPECT_EQ(o.datapath.sample_fraction_bits, -2);
  EXPECT_FALSE(o.datapath.accumulator_bits);
}

TEST(Options, AcceptBothFormsAndDefaultTheSweepStep) {
  const std::vector<const char*> args{"--precision=15", "--initial", "-100",  "--step=+50",
                                      "--ending",       "4000",      "--dir", "some dir"};
  report_options o;
  std::string message;
  ASSERT_EQ(parse_args(args, o, message), parsed::run) << message;
  EXPECT_EQ(o.precision, 15);
  EXPECT_EQ(o.frequencies.initial_frequency, -100);
  EXPECT_EQ(o.frequencies.frequency_step, 50);
  EXPECT_EQ(o.frequencies.ending_frequency, 4000);
  EXPECT_EQ(o.sweep_step, 50);
  EXPECT_EQ(o.dir, "some dir");

  const std::vector<const char*> descending{"--precision",  "15",   "--initial", "1000",
                                            "--step",       "-100", "--ending",  "100",
                                            "--sweep-step", "10"};
  ASSERT_EQ(parse_args(descending, o, message), parsed::run) << message;
  EXPECT_EQ(o.frequencies.frequency_step, -100);
  EXPECT_EQ(o.sweep_step, 10);
  EXPECT_EQ(o.dir, ".");
  // The most tones the measurements sum, descending.
  const std::vector<const char*> most_tones{"--precision",  "15", "--initial", "32768",
                                            "--step",       "-1", "--ending",  "1",
                                            "--sweep-step", "10"};
  ASSERT_EQ(parse_args(most_tones, o, message), parsed::run) << message;

  // A scan needs no precision; bands repeat and targets take decimals.
  std::vector<const char*> scan{"--scan",    "--initial",  "100",          "--step",
                                "50",        "--ending",   "4000",         "--passband",
                                "-0:1500",   "--stopband", "1400:1600",    "--stopband=2000:8000",
                                "--min-snr", "60.5",       "--max-ripple", "0.25"};
  ASSERT_EQ(parse_args(scan, o, message), parsed::error);  // overlaps
  // Bands that share only an edge do not overlap, of one kind or of two.
  scan[9] = "--passband";
  scan[10] = "1500:1600";
  ASSERT_EQ(parse_args(scan, o, message), parsed::run) << message;
  EXPECT_TRUE(o.scan);
  ASSERT_EQ(o.bands.passbands.size(), 2U);
  ASSERT_EQ(o.bands.stopbands.size(), 1U);
  EXPECT_FALSE(std::signbit(o.bands.passbands[0].low));  // -0 is 0, and never prints "-0"
  EXPECT_EQ(o.bands.stopbands[0].low, 2000.0);
  scan[11] = "--stopband=1600:8000";
  EXPECT_EQ(parse_args(scan, o, message), parsed::run) << message;
  EXPECT_TRUE(o.bands.passbands_given && o.bands.stopbands_given);
  EXPECT_EQ(o.targets.min_snr_db, 60.5);
  EXPECT_EQ(o.targets.max_ripple_db, 0.25);
  EXPECT_TRUE(std::isnan(o.targets.min_attenuation_db));

  const std::vector<const char*> help{"--precision", "x", "--help"};
  EXPECT_EQ(parse_args(help, o, message), parsed::help);
}

// The sample rate applies to every frequency wherever it stands, the precision aside; the
// frequencies are kept as the whole internal hertz they stand for.
TEST(Options, FrequenciesAreReadAtTheSampleRateWhereverItStands) {
  const std::vector<const char*> args{"--precision",   "15",     "--initial",    "826.875",
                                      "--step",        "441",    "--ending",     "5512.5",
                                      "--passband",    "0:3969", "--sweep-step", "1323",
                                      "--sample-rate", "44100"};
  report_options o;
  std::string message;
  ASSERT_EQ(parse_args(args, o, message), parsed::run) << message;
  EXPECT_EQ(o.precision, 15);
  EXPECT_EQ(o.frequencies.initial_frequency, 300);
  EXPECT_EQ(o.frequencies.frequency_step, 160);
  EXPECT_EQ(o.frequencies.ending_frequency, 2000);
  EXPECT_EQ(o.sweep_step, 480);
  ASSERT_EQ(o.bands.passbands.size(), 1U);
  EXPECT_EQ(o.bands.passbands[0].high, 1440.0);
  EXPECT_EQ(o.bands.sample_rate, 44100.0);
}

// ---- Plot helpers -----------------------------------------------------------------------

TEST(Plot, FixedOutputNamesAndExplicitRanges) {
  // Every range is explicit, so gnuplot never autoscales a plot of undefined points (a
  // scale of 0 makes every measured level NaN).
  dense_response flat;
  flat.spacing = 4000.0;
  flat.magnitude = {nan, nan, nan};
  const band_plan plan;
  const std::vector<std::int32_t> frequency{4, 14};
  const std::vector<double> levels{nan, nan};
  const std::vector<std::uint8_t> wrapped{0, 0};
  response_plot p;
  p.taps = 3;
  p.precision = 40;
  p.taps_response = &flat;
  p.coefficients_response = &flat;
  p.frequency = frequency;
  p.steady = levels;
  p.sweep = levels;
  p.wrapped = wrapped;
  p.plan = &plan;
  p.taps_figures.passband_max_db = p.taps_figures.ripple_db = nan;
  p.taps_figures.worst_attenuation_db = nan;
  const plot_body body = response_body(p);
  EXPECT_NE(body.script.find("set yrange [-"), std::string::npos);
  EXPECT_NE(body.script.find("4 NaN NaN NaN\n"), std::string::npos);
  const std::string script =
      picture_script(response_png_name, body.width, body.height, body.script);
  EXPECT_NE(script.find("set output 'response.png'\n"), std::string::npos);
  EXPECT_EQ(script.substr(script.size() - 13), "unset output\n");
}

// A synthetic filter for response.png: flat at 0 dB up to 1000 Hz, then stop-band lobes
// (100 Hz wide, nulls of 0 between them) with tops at -40 dB up to 5000 Hz and at -60 dB
// above.
struct synthetic_response {
  dense_response dense;
  band_plan plan;
  synthetic_response(bool stopband) {
    dense.spacing = 1.0;
    dense.magnitude.resize(8001);
    for (std::size_t k = 0; k < dense.magnitude.size(); ++k) {
      const auto f = static_cast<double>(k);
      const double lobe = std::fabs(std::sin(std::numbers::pi * f / 100.0));
      dense.magnitude[k] = !stopband || f <= 1000.0 ? 1.0 : lobe * (f < 5000.0 ? 0.01 : 0.001);
    }
    plan.passbands = {{0.0, stopband ? 1000.0 : 8000.0}};
    if (stopband) plan.stopbands = {{2000.0, 8000.0}};
  }
};

struct response_case {
  const char* name;
  bool stopband;
  std::vector<std::uint8_t> wrapped;  // at 100, 500 and 3000 Hz
  double steady_500;                  // the fixed point's level at 500 Hz
  double reported_stop_db;            // a stop-band level the summary reports
  double floor_db;                    // the magnitude axis's bottom
  bool wrap_key;                      // the key names the wrap marks
  const char* zoom_note;              // in the zoom's title; "" for none
  const char* steady_absent = "";     // a steady state the run did not reach
};

class ResponsePicture : public ::testing::TestWithParam<response_case> {};

// The axis stops 30 dB under the lowest lobe top, not at the nulls, yet keeps every level
// the summary reports; wraps are named only when there are some, and the zoom says when a
// wrapped run falls outside its range.
TEST_P(ResponsePicture, AxisAndWrapNotes) {
  const response_case& c = GetParam();
  const synthetic_response r(c.stopband);
  const std::vector<std::int32_t> frequency{100, 500, 3000};
  const std::vector<double> steady{1.0, c.steady_500, 0.005};
  response_plot p;
  p.taps = 160;  // lobes of 100 Hz
  p.precision = 15;
  p.taps_response = &r.dense;
  p.coefficients_response = &r.dense;
  p.frequency = frequency;
  p.steady = steady;
  p.sweep = steady;
  p.wrapped = c.wrapped;
  p.plan = &r.plan;
  p.taps_figures.passband_max_db = 0.0;
  p.taps_figures.ripple_db = 0.0;
  p.taps_figures.worst_attenuation_db = 40.0;
  band_figures_db reported;
  reported.attenuation_db = {-c.reported_stop_db};
  const band_figures_db summary[] = {p.taps_figures, reported};
  p.summary_figures = summary;
  p.steady_absent = c.steady_absent;
  EXPECT_EQ(magnitude_floor_db(p), c.floor_db);
  const std::string script = response_body(p).script;
  EXPECT_NE(script.find("set yrange [" + std::to_string(static_cast<int>(c.floor_db)) + ":"),
            std::string::npos);
  EXPECT_EQ(script.find("title 'the accumulator wraps'") != std::string::npos, c.wrap_key);
  // The steady state's key names its curve only when there is one.
  EXPECT_EQ(script.find("title 'fixed point, steady state (fitted)'") != std::string::npos,
            *c.steady_absent == '\0');
  const std::size_t zoom = script.find("Pass bands, zoomed");
  ASSERT_NE(zoom, std::string::npos);
  const std::string zoom_title = script.substr(zoom, script.find('\n', zoom) - zoom);
  if (*c.zoom_note == '\0') {
    EXPECT_EQ(zoom_title.find("wraps"), std::string::npos) << zoom_title;
  } else {
    EXPECT_NE(zoom_title.find(c.zoom_note), std::string::npos) << zoom_title;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, ResponsePicture,
    ::testing::Values(
        response_case{"lobes_set_the_floor", true, {0, 0, 0}, 1.0, -40.0, -90.0, false, ""},
        response_case{"a_reported_level_lowers_it", true, {0, 0, 0}, 1.0, -97.0, -110.0, false, ""},
        response_case{"no_stopband", false, {0, 0, 0}, 1.0, 0.0, -30.0, false, ""},
        response_case{"steady_state_not_reached",
                      true,
                      {0, 0, 0},
                      1.0,
                      -40.0,
                      -90.0,
                      false,
                      "",
                      "not reached"},
        response_case{"wrap_inside_the_zoom", true, {0, 1, 0}, 1.0, -40.0, -90.0, true, ""},
        response_case{"wrap_leaves_the_zoom",
                      true,
                      {0, 1, 0},
                      0.1,
                      -40.0,
                      -90.0,
                      true,
                      "leaves this range, down to -20 dB"}),
    [](const auto& i) { return std::string(i.param.name); });

// A ripple the scan's table prints as 0.0000 dB is not drawn on the log axis (nor anything
// made up in its place), and the panel says so.
TEST(ScanPicture, ZeroRippleIsNotAPoint) {
  const double fixed[] = {0.4, 0.0, std::numeric_limits<double>::infinity()};
  std::vector<precision_row> rows(3);
  for (std::size_t i = 0; i < 3; ++i) {
    rows[i].precision = static_cast<std::int32_t>(i) + 2;
    rows[i].coefficient_ripple_db = i == 0 ? 1e-14 : 0.5;
    rows[i].fixed_ripple_db = fixed[i];
  }
  const std::string script = scan_body({rows, 10, 3, {40.0, 0.2, nan}}).script;
  EXPECT_NE(script.find("\n2 0 0 0 NaN NaN 0.4\n3 0 0 0 NaN 0.5 NaN\n4 0 0 0 NaN 0.5 NaN\n"),
            std::string::npos)
      << script;
  EXPECT_NE(script.find("a ripple of 0.0000 dB (at precision 2, 3) and inf (at 4) is off"),
            std::string::npos);
  EXPECT_NE(script.find("set yrange [0.1:1]"), std::string::npos) << script;
}

// The steady state is a curve only where the swept frequencies stand close enough to
// follow a lobe (an eighth of 16000 / taps Hz apart); elsewhere the markers alone show it,
// so no straight line cuts across a ripple top.
struct curve_case {
  const char* name;
  std::vector<std::int32_t> frequency;
  const char* curve;  // the $curve block's lines
  const char* dots;   // the $dots block's: the points marked alone
};

class SteadyCurve : public ::testing::TestWithParam<curve_case> {};

TEST_P(SteadyCurve, JoinsOnlyPointsCloseEnoughToFollowTheRipple) {
  const curve_case& c = GetParam();
  const synthetic_response r(true);
  const std::vector<double> steady(c.frequency.size(), 1.0);
  const std::vector<std::uint8_t> wrapped(c.frequency.size(), 0);
  response_plot p;
  p.taps = 63;  // lobes of 254 Hz: a curve bridges gaps of up to 31.7 Hz
  p.taps_response = &r.dense;
  p.coefficients_response = &r.dense;
  p.frequency = c.frequency;
  p.steady = steady;
  p.sweep = steady;
  p.wrapped = wrapped;
  p.plan = &r.plan;
  const std::string script = response_body(p).script;
  auto block = [&script](const std::string& name) {
    const std::size_t at = script.find("$" + name + " << EOD\n");
    if (at == std::string::npos) return std::string("(none)");
    const std::size_t from = at + name.size() + 9;
    return script.substr(from, script.find("EOD\n", from) - from);
  };
  EXPECT_EQ(block("curve"), c.curve);
  EXPECT_EQ(block("dots"), c.dots);
  // The key names what is drawn: the curve, or the lone points when there is no curve.
  const std::string keyed = *c.curve == '\0' ? "$dots using" : "$curve using";
  const std::size_t key = script.find("title 'fixed point, steady state (fitted)'");
  ASSERT_NE(key, std::string::npos);
  EXPECT_EQ(script.rfind("     $", key), script.rfind("     " + keyed, key));
}

INSTANTIATE_TEST_SUITE_P(
    Table, SteadyCurve,
    ::testing::Values(curve_case{"dense", {4, 8, 12}, "\n4 0\n8 0\n12 0\n", ""},
                      curve_case{
                          "a_50_hz_step", {2000, 2050, 2100}, "", "2000 0\n2050 0\n2100 0\n"},
                      curve_case{"two_dense_runs",
                                 {4, 8, 500, 532, 540, 4000},
                                 "\n4 0\n8 0\n\n532 0\n540 0\n",
                                 "500 0\n4000 0\n"}),
    [](const auto& i) { return std::string(i.param.name); });

// The waveform test's spectra say what their 0 dB is.
TEST(WavesPicture, NamesTheSpectrumsReference) {
  const std::string script = waves_body({}).script;
  EXPECT_NE(script.find("set ylabel 'power per 15.6 Hz bin (dB relative to 1.0²)'"),
            std::string::npos);
}

// A synthetic search for explore.png: one rounding, coefficient words 6 to 10, the words
// below 8 not run, and sample words 9 to 12 measured.
candidate explored(std::int32_t wc, std::int32_t wx, double attenuation_db, bool meets,
                   double ripple_db = 0.1) {
  candidate k;
  k.path.coefficient.bits = wc;
  k.path.sample.bits = wx;
  k.attenuation_db = attenuation_db;
  k.ripple_db = ripple_db;
  k.snr_db = nan;
  k.coefficients_only = wx < 0;
  k.meets = meets;
  k.cost = wc * wx + 20;
  return k;
}

struct explore_case {
  const char* name;
  std::vector<candidate> measured;
  std::vector<candidate> front;
  std::optional<std::size_t> recommended;
  std::vector<const char*> present;  // in the script
  std::vector<const char*> absent;
};

class ExplorePicture : public ::testing::TestWithParam<explore_case> {};

TEST_P(ExplorePicture, ShowsWhatWasMeasuredAndKeysOnlyItsMarks) {
  const explore_case& c = GetParam();
  const std::string script =
      explore_body({c.measured, c.front, c.recommended, {40.0, 0.2, nan}}).script;
  for (const char* text : c.present) EXPECT_NE(script.find(text), std::string::npos) << text;
  for (const char* text : c.absent) EXPECT_EQ(script.find(text), std::string::npos) << text;
}

const std::vector<candidate> near_misses{explored(8, 9, 39.73, false), explored(8, 10, 40.5, true),
                                         explored(9, 12, 55.0, true)};
const std::vector<candidate> near_front{explored(6, -1, 20.0, false), explored(7, -1, 30.0, false),
                                        explored(8, 10, 40.5, true), explored(9, 12, 55.0, true)};

INSTANTIATE_TEST_SUITE_P(
    Table, ExplorePicture,
    ::testing::Values(
        // A miss by 0.27 dB sits on the red side of the scale's break, a meet on the blue;
        // the two hues are far apart.
        explore_case{"two_hues",
                     near_misses,
                     near_front,
                     1,
                     {"\n8 9 -0.27 0\n8 10 0.5 0\n9 12 15 0\n",
                      "set palette defined (-20 '#99000d', -0.01 '#fc9272', 0 '#9ecae1', 20 "
                      "'#08519c')",
                      "title 'meets every target", "title 'misses a target"},
                     {}},
        // The axes span the words measured, each labelled where only a few were, and the row
        // of words not run below them.
        explore_case{"measured_range",
                     near_misses,
                     near_front,
                     1,
                     {"set yrange [7.2:12.8]", "set xrange [5:10]", "set xtics 6, 1, 9 nomirror",
                      "set ytics (\"9\" 9, \"10\" 10, \"12\" 12, \"not run\" 8)", "\n6 8\n7 8\n"},
                     {"set yrange [2.5:32.5]", "..."}},
        // A wide stretch of sample words no candidate measured takes one row.
        explore_case{
            "unmeasured_words_folded",
            {explored(8, 9, 39.0, false), explored(8, 10, 39.5, false),
             explored(9, 32, 41.0, true)},
            {explored(8, 10, 39.5, false), explored(9, 32, 41.0, true)},
            1,
            {"set yrange [8.2:12.8]", "set ytics (\"9\" 9, \"10\" 10, \"32\" 12, \"...\" 11)",
             "$front0 << EOD\n9 12\nEOD\n", "\n9 12 1 0\n"},
            {"not run"}},
        // Every key entry has its marks: no cross without a ripple miss, no star without a
        // recommendation, no hue without a cell of it.
        explore_case{
            "no_key_entry_without_a_mark",
            {explored(8, 10, 45.0, true)},
            {explored(8, 10, 45.0, true)},
            std::nullopt,
            {"title 'meets every target", "title 'front:"},
            {"title 'misses", "title 'recommended'", "title 'coefficients alone", "not run"}},
        // Every word's coefficients alone miss: the "not run" row alone, no sample word.
        explore_case{"nothing_run",
                     {},
                     {explored(6, -1, 20.0, false), explored(7, -1, 30.0, false)},
                     std::nullopt,
                     {"set ytics (\"not run\" 3)", "title 'coefficients alone"},
                     {"title 'meets", "title 'misses", "$cells0 using", "title 'front:"}},
        explore_case{"a_ripple_miss_is_crossed",
                     {explored(8, 10, 45.0, false, 0.3)},
                     {explored(8, 10, 45.0, false, 0.3)},
                     std::nullopt,
                     {"\n8 10 -0.01 1\n", "title 'misses the ripple target or overflows'"},
                     {"title 'meets every target", "title 'front:"}},
        // The cost of each datapath on the front stands above its coefficient word.
        explore_case{"costs_on_the_front",
                     near_misses,
                     near_front,
                     1,
                     {"set x2tics rotate by 90 font ',8' (\"100\" 8, \"128\" 9)", "set link x2",
                      "title 'recommended'"},
                     {}}),
    [](const auto& i) { return std::string(i.param.name); });

// gnuplot's SVG goes into the page as it is only when it is one whole <svg> element that
// needs nothing outside the page.
struct svg_case {
  const char* file;
  const char* kept;  // nullptr: refused
};

class SvgForPage : public ::testing::TestWithParam<svg_case> {};

TEST_P(SvgForPage, KeepsOnlyAWholeSelfContainedSvgElement) {
  const result<std::string> svg = svg_for_page(GetParam().file);
  EXPECT_EQ(svg.ok(), GetParam().kept != nullptr) << (svg ? "" : svg.failure().message);
  if (svg) {
    EXPECT_EQ(svg.value(), GetParam().kept);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, SvgForPage,
    ::testing::Values(
        svg_case{"<?xml version='1.0'?>\n<!DOCTYPE svg PUBLIC 'x' 'y'>\n<!-- by gnuplot -->\n"
                 "<svg viewBox='0 0 9 9'><use xlink:href='#p1'/></svg>\n",
                 "<svg viewBox='0 0 9 9'><use xlink:href='#p1'/></svg>"},
        svg_case{"<svg>\n<image href = \"data:image/png;base64,AA\"/></svg>",
                 "<svg>\n<image href = \"data:image/png;base64,AA\"/></svg>"},
        svg_case{"<svg><path d='M 0 0'/>", nullptr},  // cut short
        svg_case{"<svgx></svgx>", nullptr}, svg_case{"<html><svg></svg></html>", nullptr},
        svg_case{"<svg><script xlink:href='gnuplot_svg.js'/></svg>", nullptr},
        svg_case{"<svg><image src=\"https://x/y.png\"/></svg>", nullptr},
        svg_case{"<svg><rect style='fill:url(grid.svg#a)'/></svg>", nullptr}));

// ---- Progress bar -----------------------------------------------------------------------

// Everything written to the terminal side of a pseudo-terminal so far.
std::string drain(int master) {
  std::string text;
  char buf[4096];
  ssize_t n = 0;
  while ((n = read(master, buf, sizeof buf)) > 0) text.append(buf, static_cast<std::size_t>(n));
  return text;
}

TEST(Progress, DrawsOnATerminalOnlyAndAtMostTenTimesASecond) {
  std::FILE* file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  progress_bar quiet;
  progress_start(quiet, file, "sweep");
  progress_report(progress_callback_for(quiet), 5, 10);
  progress_finish(quiet);
  EXPECT_EQ(std::ftell(file), 0L);
  std::fclose(file);

  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(master, 0);
  ASSERT_EQ(grantpt(master), 0);
  ASSERT_EQ(unlockpt(master), 0);
  std::FILE* terminal = std::fopen(ptsname(master), "w");
  ASSERT_NE(terminal, nullptr);
  termios mode{};
  tcgetattr(fileno(terminal), &mode);
  cfmakeraw(&mode);  // no output processing: the test sees exactly what was written
  tcsetattr(fileno(terminal), TCSANOW, &mode);
  // A bar that drew on every call would fill the terminal: fail then, never block.
  fcntl(fileno(terminal), F_SETFL, fcntl(fileno(terminal), F_GETFL) | O_NONBLOCK);

  progress_bar bar;
  progress_start(bar, terminal, "sweep");
  const progress_callback advance = progress_callback_for(bar);
  const auto start = std::chrono::steady_clock::now();
  for (std::int64_t done = 0; done <= 100000; ++done) progress_report(advance, done, 100000);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const std::string drawn = drain(master);
  const auto draws = static_cast<double>(std::count(drawn.begin(), drawn.end(), '\r'));
  EXPECT_GE(draws, 1.0);
  EXPECT_LE(draws, 1.0 + seconds * 10.0) << drawn;
  EXPECT_EQ(drawn.rfind("\rsweep: 0 / 100000 (0%), --:-- left", 0), 0U) << drawn;

  std::this_thread::sleep_for(std::chrono::milliseconds(120));
  progress_report(advance, 25000, 100000);
  EXPECT_NE(drain(master).find("sweep: 25000 / 100000 (25%), "), std::string::npos);
  progress_finish(bar);
  const std::string cleared = drain(master);
  EXPECT_TRUE(cleared.size() > 2 && cleared.front() == '\r' && cleared.back() == '\r' &&
              cleared.find_first_not_of(' ', 1) == cleared.size() - 1)
      << cleared;
  std::fclose(terminal);
  close(master);
}

}  // namespace
}  // namespace fixfir
