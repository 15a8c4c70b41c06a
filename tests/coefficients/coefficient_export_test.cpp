// The datapath a user's choices describe, and the coefficient words written as files.
#include "fixfir/coefficients/coefficient_export.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "fixfir/coefficients/datapath.h"
#include "fixfir/coefficients/fixed_filter.h"
#include "fixfir/common/output_file.h"
#include "tool_runner.h"

// The tables give only the choices a case makes, by name; the others stay unset.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace fixfir {
namespace {

using fixfir_test::read_file;
using fixfir_test::scratch_dir;
using fixfir_test::write_file;
namespace fs = std::filesystem;

// ---- Choices to a datapath -----------------------------------------------------------------

struct choice_case {
  const char* name;
  datapath_choices choices;
  // The expected words: coefficient bits and fraction, sample bits and fraction.
  std::int32_t wc, fc, wx, fx;
  bool seed;
};

class Choices : public ::testing::TestWithParam<choice_case> {};

TEST_P(Choices, GiveTheDatapath) {
  const choice_case& c = GetParam();
  const std::vector<float> taps{0.3f, -0.9f, 0.05f};  // 0.9 fits 16 bits with 15 fractional
  const result<datapath> d = datapath_from_choices(taps, c.choices);
  ASSERT_TRUE(d) << d.failure().message;
  EXPECT_EQ(d.value().coefficient.bits, c.wc);
  EXPECT_EQ(d.value().coefficient.fraction_bits, c.fc);
  EXPECT_EQ(d.value().sample.bits, c.wx);
  EXPECT_EQ(d.value().sample.fraction_bits, c.fx);
  EXPECT_EQ(is_precision_datapath_in_range(d.value()), c.seed);
  if (c.seed) {
    EXPECT_EQ(d.value().precision, c.fc);
  }
  EXPECT_EQ(d.value().accumulator_bits, c.choices.accumulator_bits.value_or(32));
  const overflow_mode o = c.choices.overflow.value_or(overflow_mode::wrap);
  EXPECT_EQ(d.value().accumulator_overflow, o);
  EXPECT_EQ(d.value().sample.overflow, o);
  EXPECT_EQ(d.value().sample.rounding, c.choices.rounding.value_or(rounding_mode::toward_zero));
}

INSTANTIATE_TEST_SUITE_P(
    Table, Choices,
    ::testing::Values(
        choice_case{"precision_alone_is_the_seed", {.precision = 15}, 32, 15, 32, 15, true},
        choice_case{"restated_seed",
                    {.precision = 9,
                     .coefficient_bits = 32,
                     .coefficient_fraction_bits = 9,
                     .accumulator_bits = 32,
                     .rounding = rounding_mode::toward_zero,
                     .overflow = overflow_mode::wrap},
                    32,
                    9,
                    32,
                    9,
                    true},
        choice_case{"width_alone_fits_the_taps",
                    {.coefficient_bits = 16, .rounding = rounding_mode::nearest},
                    16,
                    15,
                    32,
                    31,
                    false},
        choice_case{"width_overrides_precision_for_its_word_only",
                    {.precision = 12, .coefficient_bits = 16},
                    16,
                    15,
                    32,
                    12,
                    false},
        choice_case{"sample_width_takes_w_minus_one",
                    {.precision = 12, .sample_bits = 14, .overflow = overflow_mode::saturate},
                    32,
                    12,
                    14,
                    13,
                    false},
        choice_case{"fractions_given",
                    {.precision = 12,
                     .coefficient_bits = 8,
                     .coefficient_fraction_bits = -3,
                     .sample_fraction_bits = 40,
                     .accumulator_bits = 64},
                    8,
                    -3,
                    32,
                    40,
                    false}),
    [](const auto& i) { return std::string(i.param.name); });

// A choice beyond its limits names its field and range; the plain words are what a caller
// with no spelling of its own sees, and each front end spells the field itself.
TEST(Choices, BeyondTheirLimitsNameTheField) {
  using enum datapath_field;
  struct fault_case {
    datapath_choices choices;
    datapath_field field;
    std::int32_t least;
    std::int32_t most;
    const char* words;
  };
  const fault_case table[] = {
      {{.precision = 31}, precision, 0, 30, "precision must be 0 to 30"},
      {{.precision = -1}, precision, 0, 30, "precision must be 0 to 30"},
      {{.coefficient_bits = 1}, coefficient_bits, 2, 32, "coefficient bits must be 2 to 32"},
      {{.coefficient_bits = 33}, coefficient_bits, 2, 32, "coefficient bits must be 2 to 32"},
      {{.coefficient_fraction_bits = 97},
       coefficient_fraction_bits,
       -32,
       96,
       "coefficient fraction bits must be -32 to 96"},
      {{.sample_bits = 0}, sample_bits, 2, 32, "sample bits must be 2 to 32"},
      {{.sample_fraction_bits = -33},
       sample_fraction_bits,
       -32,
       96,
       "sample fraction bits must be -32 to 96"},
      {{.accumulator_bits = 7}, accumulator_bits, 8, 64, "accumulator bits must be 8 to 64"},
      {{.accumulator_bits = 65}, accumulator_bits, 8, 64, "accumulator bits must be 8 to 64"},
      // The first fault in the datapath's order is the one named.
      {{.coefficient_bits = 1, .accumulator_bits = 65},
       coefficient_bits,
       2,
       32,
       "coefficient bits must be 2 to 32"},
  };
  const std::vector<float> taps{0.5f};
  for (const fault_case& c : table) {
    const std::optional<datapath_fault> fault = datapath_choices_fault(c.choices);
    ASSERT_TRUE(fault) << c.words;
    EXPECT_EQ(fault->field, c.field) << c.words;
    EXPECT_EQ(fault->least, c.least) << c.words;
    EXPECT_EQ(fault->most, c.most) << c.words;
    const result<datapath> d = datapath_from_choices(taps, c.choices);
    ASSERT_FALSE(d) << c.words;
    EXPECT_EQ(d.failure().kind, error_kind::bad_input);
    EXPECT_EQ(d.failure().message, c.words);
  }
  EXPECT_FALSE(datapath_choices_fault({.precision = 30, .accumulator_bits = 8}));
  EXPECT_EQ(export_choices_problem({.sample_bits = 16}),
            "an export needs a precision or a coefficient width");
  EXPECT_EQ(export_choices_problem({.precision = 0}), "");
  EXPECT_EQ(export_choices_problem({.precision = 15, .sample_bits = 40}),
            "sample bits must be 2 to 32");
}

// ---- The files -------------------------------------------------------------------------------

struct format_case {
  const char* name;
  std::vector<float> taps;
  word_format word;
  std::vector<std::int32_t> words;  // what the taps become
  const char* mem;
  const char* csv;
  const char* header_type;
  const char* header_values;  // the array's body
};

class Formats : public ::testing::TestWithParam<format_case> {};

TEST_P(Formats, HoldTheWords) {
  const format_case& c = GetParam();
  datapath d = precision_datapath(0);
  d.precision = d.scale = 0;
  d.coefficient = c.word;
  const result<fixed_filter> f = make_fixed_filter(c.taps, d);
  ASSERT_TRUE(f) << f.failure().message;
  ASSERT_EQ(f.value().coefficients, c.words);
  const word_format& w = f.value().path.coefficient;
  EXPECT_EQ(export_text(export_format::memory_image, c.words, w), c.mem);
  EXPECT_EQ(export_text(export_format::csv, c.words, w), c.csv);
  const std::string h = export_text(export_format::c_header, c.words, w);
  const std::string f_text = std::to_string(w.fraction_bits);
  for (const std::string& line :
       {"#define FIXFIR_COEFFICIENT_COUNT " + std::to_string(c.words.size()) + "\n",
        "#define FIXFIR_COEFFICIENT_BITS " + std::to_string(w.bits) + "\n",
        "#define FIXFIR_COEFFICIENT_SHIFT " + (w.fraction_bits < 0 ? "(" + f_text + ")" : f_text) +
            "\n",
        std::string("static const ") + c.header_type +
            " fixfir_coefficients[FIXFIR_COEFFICIENT_COUNT] = {\n" + c.header_values + "};\n",
        std::string("#include <stdint.h>\n"), std::string("#endif /* FIXFIR_COEFFICIENTS_H */\n")})
    EXPECT_NE(h.find(line), std::string::npos) << line << "\nin\n" << h;
  EXPECT_EQ(h.rfind("/* Coefficient words of a fixfir filter: ", 0), 0U) << h;
}

INSTANTIATE_TEST_SUITE_P(
    Table, Formats,
    ::testing::Values(
        // Two bits hold -2 to 1: -1 is 3 and -2 is 2 in the memory image.
        format_case{"bits_2",
                    {1.0f, -1.0f, -2.0f, 0.4f},
                    {2, 0, rounding_mode::toward_zero, overflow_mode::wrap},
                    {1, -1, -2, 0},
                    "1\n3\n2\n0\n",
                    "index,integer,value\n0,1,1\n1,-1,-1\n2,-2,-2\n3,0,0\n",
                    "int8_t",
                    "    1, -1, -2, 0,\n"},
        // Ties round away from zero; 1.0 saturates to 127.
        format_case{"bits_8_nearest_saturate",
                    {0.5f, -0.5f, -1.0f, 0.00390625f, 1.0f},
                    {8, 7, rounding_mode::nearest, overflow_mode::saturate},
                    {64, -64, -128, 1, 127},
                    "40\nc0\n80\n01\n7f\n",
                    "index,integer,value\n0,64,0.5\n1,-64,-0.5\n2,-128,-1\n3,1,0.0078125\n"
                    "4,127,0.9921875\n",
                    "int8_t",
                    "    64, -64, -128, 1, 127,\n"},
        format_case{"bits_16",
                    {-1.0f, 0.999969482421875f, -0.25f},
                    {16, 15, rounding_mode::toward_zero, overflow_mode::wrap},
                    {-32768, 32767, -8192},
                    "8000\n7fff\ne000\n",
                    "index,integer,value\n0,-32768,-1\n1,32767,0.999969482421875\n2,-8192,-0.25\n",
                    "int16_t",
                    "    -32768, 32767, -8192,\n"},
        // 18 bits take five digits and a 32-bit array; 1.0 wraps to -2^17.
        format_case{"bits_18_wrap",
                    {-1.0f, 0.5f, -3.0517578125e-05f, 1.0f},
                    {18, 17, rounding_mode::floor, overflow_mode::wrap},
                    {-131072, 65536, -4, -131072},
                    "20000\n10000\n3fffc\n20000\n",
                    "index,integer,value\n0,-131072,-1\n1,65536,0.5\n2,-4,-3.0517578125e-05\n"
                    "3,-131072,-1\n",
                    "int32_t",
                    "    -131072, 65536, -4, -131072,\n"},
        // The 32-bit minimum is an expression in C; nine words take two lines.
        format_case{"bits_32",
                    {-1.0f, 0.5f, 0, 0, 0, 0, 0, 0, -0.5f},
                    {32, 31, rounding_mode::toward_zero, overflow_mode::wrap},
                    {INT32_MIN, 1 << 30, 0, 0, 0, 0, 0, 0, -(1 << 30)},
                    "80000000\n40000000\n00000000\n00000000\n00000000\n00000000\n00000000\n"
                    "00000000\nc0000000\n",
                    "index,integer,value\n0,-2147483648,-1\n1,1073741824,0.5\n2,0,0\n3,0,0\n"
                    "4,0,0\n5,0,0\n6,0,0\n7,0,0\n8,-1073741824,-0.5\n",
                    "int32_t",
                    "    (-2147483647 - 1), 1073741824, 0, 0, 0, 0, 0, 0,\n    -1073741824,\n"},
        // A negative fraction: each word counts 2^3, and the shift is parenthesised.
        format_case{"negative_fraction",
                    {100.0f, -17.0f},
                    {8, -3, rounding_mode::toward_zero, overflow_mode::wrap},
                    {12, -2},
                    "0c\nfe\n",
                    "index,integer,value\n0,12,96\n1,-2,-16\n",
                    "int8_t",
                    "    12, -2,\n"}),
    [](const auto& i) { return std::string(i.param.name); });

TEST(Formats, FollowTheExtension) {
  const std::pair<const char*, std::optional<export_format>> table[] = {
      {"taps.h", export_format::c_header},
      {"out.d/taps.MEM", export_format::memory_image},
      {"/x/Taps.Csv", export_format::csv},
      {"filter.v", export_format::verilog},
      {"out/Filter_TB.V", export_format::testbench},
      {"tb.v", export_format::verilog},
      {"x/_tb.v", export_format::testbench},
      {"a.tb.v", export_format::verilog},
      {"step.C", export_format::c_source},
      {".v", std::nullopt},
      {"filter.v.bak", std::nullopt},
      {"taps.txt", std::nullopt},
      {"taps", std::nullopt},
      {"dir.h/taps", std::nullopt},
      {".h", std::nullopt},
      {"taps.h.bak", std::nullopt},
  };
  for (const auto& [path, format] : table) {
    const result<export_format> f = export_format_for(path);
    EXPECT_EQ(f.ok(), format.has_value()) << path;
    if (f && format) {
      EXPECT_EQ(f.value(), *format) << path;
    } else if (!f) {
      EXPECT_EQ(f.failure().kind, error_kind::bad_input);
      EXPECT_NE(f.failure().message.find("does not end in .h, .mem, .csv, .v, _tb.v or .c"),
                std::string::npos);
    }
  }
}

// ---- Writing ---------------------------------------------------------------------------------

// The names in `dir`, to see that no temporary file is left behind.
std::vector<std::string> names_in(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

TEST(Writing, ReplacesWholeOrLeavesTheEarlierFile) {
  scratch_dir dir;
  const std::string file = (dir / "taps.csv").string();
  write_file(file, "earlier");
  const result<export_facts> done =
      export_coefficients(std::vector<float>{0.25f, 3.0f}, {.coefficient_bits = 4}, file);
  ASSERT_TRUE(done) << done.failure().message;
  EXPECT_EQ(read_file(file), "index,integer,value\n0,0,0\n1,6,3\n");  // F = 1: 3 × 2 fits 4 bits
  EXPECT_EQ(done.value().count, 2U);
  EXPECT_EQ(done.value().overflows, 0U);
  EXPECT_EQ(export_words(done.value()),
            "2 words of 4 bits, 1 fractional, rounding toward zero, overflow wraps");

  // A tap past the word: counted and said.
  const result<export_facts> over = export_coefficients(
      std::vector<float>{0.25f, 3.0f},
      {.coefficient_bits = 4, .coefficient_fraction_bits = 2, .overflow = overflow_mode::saturate},
      file);
  ASSERT_TRUE(over);
  EXPECT_EQ(export_overflow_words(over.value()), "1 of 2 taps did not fit 4 bits and saturated");
  EXPECT_EQ(read_file(file), "index,integer,value\n0,1,0.25\n1,7,1.75\n");

  // Failures: nothing half written, the earlier file as it was, no temporary file left.
  fs::create_directory(dir / "folder.h");
  const std::pair<std::string, const char*> failures[] = {
      {(dir / "missing" / "taps.csv").string(), "No such file or directory"},
      {(dir / "folder.h").string(), "Is a directory"},
      {(dir / "folder.h/").string(), "Is a directory"},
  };
  for (const auto& [path, reason] : failures) {
    const outcome r = replace_file(path, "new");
    ASSERT_FALSE(r) << path;
    EXPECT_EQ(r.failure().kind, error_kind::cannot_write);
    EXPECT_EQ(r.failure().message, "cannot write " + path + ": " + reason);
    EXPECT_STREQ(std::strerror(r.failure().system_errno), reason);
  }
  // Stopped by its caller: the words are thrown away before the earlier file is replaced.
  int asked = 0;
  const result<export_facts> stopped = export_coefficients(
      std::vector<float>(1 << 17, 0.5f), {.precision = 3}, file, [&asked] { return ++asked < 2; });
  ASSERT_FALSE(stopped);
  EXPECT_EQ(stopped.failure().kind, error_kind::interrupted);
  EXPECT_EQ(asked, 2);  // after 65536 and 131072 words
  EXPECT_EQ(read_file(file), "index,integer,value\n0,1,0.25\n1,7,1.75\n");
  EXPECT_EQ(names_in(dir.path), (std::vector<std::string>{"folder.h", "taps.csv"}));
  EXPECT_TRUE(fs::is_empty(dir / "folder.h"));

  const result<export_facts> unknown =
      export_coefficients(std::vector<float>{0.5f}, {.precision = 3}, (dir / "taps.txt").string());
  ASSERT_FALSE(unknown);
  EXPECT_EQ(unknown.failure().kind, error_kind::bad_input);
  EXPECT_FALSE(fs::exists(dir / "taps.txt"));
}

// What lies where the file goes, and what replacing it does: a regular file takes the new
// text and keeps its permission bits; anything else stays as it was, with one message. The
// temporary file's name fits wherever the file's own name does.
struct replacement {
  const char* name;
  std::string file;  // in a fresh folder
  // What is there first: "" nothing, "0600" a regular file with those bits, "fifo",
  // "device", "link" (to a regular file), "dangling" (a link to nothing).
  const char* earlier;
  const char* reason;  // "" when the file is replaced
};

class Replacing : public ::testing::TestWithParam<replacement> {};

TEST_P(Replacing, OnlyARegularFileKeepingItsMode) {
  const replacement& p = GetParam();
  scratch_dir dir;
  const fs::path target = dir / p.file;
  const std::string earlier = p.earlier;
  std::vector<std::string> names{p.file};
  if (earlier.starts_with('0')) {
    write_file(target, "earlier");
    fs::permissions(target, static_cast<fs::perms>(std::stoi(earlier, nullptr, 8)));
  } else if (earlier == "fifo") {
    ASSERT_EQ(mkfifo(target.c_str(), 0644), 0);
  } else if (earlier == "device" && mknod(target.c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0) {
    GTEST_SKIP() << "cannot make a device node here";
  } else if (earlier == "link" || earlier == "dangling") {
    if (earlier == "link") write_file(dir / "real.h", "earlier");
    fs::create_symlink("real.h", target);
    if (earlier == "link") names.push_back("real.h");
  }
  if (earlier.empty() && *p.reason != '\0') names.clear();
  std::sort(names.begin(), names.end());
  const mode_t mask = umask(0);
  umask(mask);

  const outcome r = replace_file(target.string(), "new");
  EXPECT_EQ(names_in(dir.path), names);  // no temporary file left
  if (*p.reason != '\0') {
    ASSERT_FALSE(r);
    EXPECT_EQ(r.failure().kind, error_kind::cannot_write);
    EXPECT_EQ(r.failure().message, "cannot write " + target.string() + ": " + p.reason);
    std::error_code ec;
    const fs::file_status there = fs::symlink_status(target, ec);
    if (earlier == "fifo") {
      EXPECT_TRUE(fs::is_fifo(there));
    } else if (earlier == "device") {
      EXPECT_TRUE(fs::is_character_file(there));
    } else if (earlier == "link" || earlier == "dangling") {
      EXPECT_TRUE(fs::is_symlink(there));
    }
    if (earlier == "link") {
      EXPECT_EQ(read_file(dir / "real.h"), "earlier");
    }
    return;
  }
  ASSERT_TRUE(r) << r.failure().message;
  EXPECT_EQ(read_file(target), "new");
  struct stat info {};
  ASSERT_EQ(lstat(target.c_str(), &info), 0);
  EXPECT_TRUE(S_ISREG(info.st_mode));
  const unsigned want =
      earlier.empty() ? 0666U & ~mask : static_cast<unsigned>(std::stoi(earlier, nullptr, 8));
  EXPECT_EQ(info.st_mode & 07777U, want) << std::oct << (info.st_mode & 07777U);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Replacing,
    ::testing::Values(
        replacement{"new_file", "taps.h", "", ""},
        replacement{"private_file", "taps.h", "0600", ""},
        replacement{"read_only_file", "taps.mem", "0444", ""},
        replacement{"group_file", "taps.csv", "0640", ""},
        replacement{"executable_file", "taps.h", "0755", ""},
        // The longest name a folder holds: the temporary name is shorter.
        replacement{"longest_name", std::string(253, 'X') + ".h", "", ""},
        replacement{"longest_name_replaced", std::string(253, 'X') + ".h", "0600", ""},
        replacement{"name_too_long", std::string(254, 'X') + ".h", "", "File name too long"},
        replacement{"fifo", "dev.h", "fifo", "not a regular file"},
        replacement{"device", "dev.h", "device", "not a regular file"},
        // A link stays a link: its file is not written through it either.
        replacement{"link", "taps.h", "link", "not a regular file"},
        replacement{"dangling_link", "taps.h", "dangling", "not a regular file"}),
    [](const auto& i) { return std::string(i.param.name); });

}  // namespace
}  // namespace fixfir
