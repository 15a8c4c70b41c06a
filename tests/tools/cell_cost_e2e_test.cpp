// fixfir-report --explore --cost cells: the front's cheapest datapaths synthesized and the
// fewest cells recommended, or, without a working yosys, one line and the formula's choice.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdint>
#include <cstdlib>
#include <regex>
#include <string>
#include <vector>

#include "fixfir/report/gnuplot_runner.h"
#include "tool_runner.h"

namespace {

using fixfir_test::read_file;
using fixfir_test::scratch_dir;
using fixfir_test::shell_quote;
using fixfir_test::write_file;
namespace fs = std::filesystem;

// A low-pass of five taps: narrow words meet its targets, and each synthesis takes well
// under a second.
const char* const tiny_taps = "5\n0.1 0.2 0.4 0.2 0.1\n";

struct cells_case {
  const char* name;
  // The yosys on PATH: nullptr none, "" the installed one, else a stand-in's script.
  const char* yosys;
  bool by_cells;               // the recommendation is the fewest cells
  const char* err;             // what standard error says (before any line about gnuplot)
  const char* min_snr = "30";  // 300 dB: no datapath meets the targets, nothing to synthesize
};

class CostCells : public ::testing::TestWithParam<cells_case> {};

TEST_P(CostCells, RecommendsTheFewestCellsOrSaysWhyNot) {
  const cells_case& c = GetParam();
  const char* path = std::getenv("PATH");
  const std::string installed = fixfir::find_program(
      "yosys", path != nullptr ? std::optional<std::string_view>(path) : std::nullopt);
  if (c.yosys != nullptr && *c.yosys == '\0' && installed.empty()) GTEST_SKIP() << "needs yosys";
  scratch_dir dir;
  write_file(dir / "taps.txt", tiny_taps);
  std::string env = "PATH=/nonexistent";
  if (c.yosys != nullptr && *c.yosys != '\0') {
    fs::create_directory(dir / "bin");
    write_file(dir / "bin" / "yosys", c.yosys);
    fs::permissions(dir / "bin" / "yosys", fs::perms::owner_all);
    env = "PATH=" + shell_quote((dir / "bin").string());
  } else if (c.yosys != nullptr) {
    env = "";
  }
  std::string cmd = "cd " + shell_quote(dir.path.string()) + " && " + env + " " +
                    shell_quote(FIXFIR_REPORT_EXE) +
                    " --explore --initial 100 --step 50 --ending 4000 --sweep-step 100"
                    " --min-snr " +
                    c.min_snr + " --cost cells < /dev/null > out.txt 2> err.txt";
  const int raw = std::system(cmd.c_str());
  ASSERT_TRUE(raw != -1 && WIFEXITED(raw) && WEXITSTATUS(raw) == 0) << read_file(dir / "err.txt");
  const std::string out = read_file(dir / "out.txt");
  const std::string err = read_file(dir / "err.txt");
  EXPECT_TRUE(
      std::regex_match(err, std::regex(std::string(c.err) + "(gnuplot not found[^\n]*\n)?")))
      << err;
  // Each synthesized datapath's cells, and the recommendation's words.
  const std::regex row("\n  ([0-9]+) cells: ([^\n]*)");
  std::int64_t fewest = -1;
  std::string fewest_words;
  int rows = 0;
  for (auto it = std::sregex_iterator(out.begin(), out.end(), row); it != std::sregex_iterator();
       ++it, ++rows) {
    const std::int64_t cells = std::stoll((*it)[1]);
    if (fewest < 0 || cells < fewest) {
      fewest = cells;
      fewest_words = (*it)[2];
    }
  }
  std::smatch chosen;
  ASSERT_TRUE(std::regex_search(out, chosen, std::regex("\nrecommended datapath: ([^\n]*)\n")));
  if (!c.by_cells) {
    EXPECT_EQ(rows, 0) << out;
    if (std::string(c.min_snr) != "30") {
      EXPECT_EQ(chosen[1], "none") << out;
      return;
    }
    EXPECT_NE(out.find("\nwhy: the cheapest of "), std::string::npos) << out;
    return;
  }
  EXPECT_EQ(rows, 4) << out;
  EXPECT_NE(out.find("\ncells: the 4 cheapest by the formula that meet the targets, "
                     "synthesized with yosys\n"),
            std::string::npos)
      << out;
  EXPECT_EQ(chosen[1], fewest_words) << out;
  EXPECT_NE(out.find("\nwhy: the fewest cells (" + std::to_string(fewest) + ") of the 4 "),
            std::string::npos)
      << out;
}

// A stand-in that counts the module's bytes as its cells: the formula's cheapest is not
// always the smallest text, so the choice is the count's, not the formula's.
const char* const counts_bytes =
    "#!/bin/sh\nn=$(/usr/bin/wc -c < filter.v)\nprintf '   Number of cells: %s\\n' \"$n\" > "
    "\"$3\"\n";

INSTANTIATE_TEST_SUITE_P(
    Table, CostCells,
    ::testing::Values(
        cells_case{"installed", "", true, ""},
        cells_case{"counted_by_a_stand_in", counts_bytes, true, ""},
        cells_case{"missing", nullptr, false,
                   "yosys not found: install it \\(apt-get install yosys\\) to count cells; the "
                   "recommendation is by the formula\n"},
        cells_case{"fails", "#!/bin/sh\necho broken >&2\nexit 3\n", false,
                   "yosys failed \\(status 3\\); the recommendation is by the formula\n"},
        // With nothing to synthesize, a missing yosys is not worth a word.
        cells_case{"missing_but_nothing_meets", nullptr, false, "", "300"},
        cells_case{"gives_no_count", "#!/bin/sh\necho 'Number of wires: 4' > \"$3\"\n", false,
                   "yosys gave no cell count; the recommendation is by the formula\n"}),
    [](const ::testing::TestParamInfo<cells_case>& i) { return std::string(i.param.name); });

}  // namespace
