#include "fixfir/common/output_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>

namespace fixfir {
namespace {

namespace fs = std::filesystem;

std::string read(const fs::path& p) {
  std::ifstream in(p);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void write(const fs::path& p, const std::string& text) { std::ofstream(p) << text; }

bool stray_files(const fs::path& folder) {
  for (const auto& entry : fs::directory_iterator(folder)) {
    if (entry.path().filename().string().starts_with(".fixfir-")) return true;
  }
  return false;
}

// How the written file is finished.
enum class ending { close, discard, signal };

struct output_case {
  const char* name;
  std::function<void(const fs::path&)> setup;  // in a fresh folder, before "out.txt" is opened
  ending end;
  bool opens;
  std::string after;  // "out.txt" (through any link) afterwards; "-" when not a file
};

class OutputFile : public ::testing::TestWithParam<output_case> {};

TEST_P(OutputFile, ReplacesOnlyAWholeFile) {
  const output_case& c = GetParam();
  char name[] = "/tmp/fixfir-output-XXXXXX";
  ASSERT_NE(mkdtemp(name), nullptr);
  const fs::path folder(name);
  c.setup(folder);
  const std::string path = (folder / "out.txt").string();
  output_file out;
  ASSERT_EQ(open_output(out, path.c_str()), c.opens);
  if (c.opens) {
    write_output(out, "new\n");
    // Until it is closed a reader finds the earlier file, or none.
    if (c.after != "-") {
      EXPECT_NE(read(folder / "out.txt"), "new\n");
    }
    if (c.end == ending::close) {
      EXPECT_TRUE(close_output(out));
    }
    if (c.end == ending::signal) remove_pending_output();
    if (c.end != ending::close) discard_output(out);
  }
  if (c.after != "-") {
    EXPECT_EQ(read(folder / "out.txt"), c.after);
  }
  EXPECT_FALSE(stray_files(folder));
  fs::remove_all(folder);
}

const auto nothing = [](const fs::path&) {};
const auto earlier = [](const fs::path& d) { write(d / "out.txt", "earlier\n"); };

INSTANTIATE_TEST_SUITE_P(
    Table, OutputFile,
    ::testing::Values(
        output_case{"New", nothing, ending::close, true, "new\n"},
        output_case{"Replaced", earlier, ending::close, true, "new\n"},
        output_case{"DiscardedKeepsTheEarlier", earlier, ending::discard, true, "earlier\n"},
        output_case{"DiscardedLeavesNone", nothing, ending::discard, true, ""},
        output_case{"RemovedOnASignal", earlier, ending::signal, true, "earlier\n"},
        // A link to a file: the file is replaced, the link stays.
        output_case{"ThroughALink",
                    [](const fs::path& d) {
                      write(d / "target.txt", "earlier\n");
                      fs::create_symlink("target.txt", d / "out.txt");
                    },
                    ending::close, true, "new\n"},
        // A device is written in place.
        output_case{"DevNull",
                    [](const fs::path& d) { fs::create_symlink("/dev/null", d / "out.txt"); },
                    ending::close, true, "-"},
        output_case{"Folder", [](const fs::path& d) { fs::create_directory(d / "out.txt"); },
                    ending::close, false, "-"}),
    [](const auto& p) { return std::string(p.param.name); });

// The new file takes the earlier one's permission bits, and a link stays a link.
TEST(OutputFile, KeepsTheModeAndTheLink) {
  char name[] = "/tmp/fixfir-output-XXXXXX";
  ASSERT_NE(mkdtemp(name), nullptr);
  const fs::path folder(name);
  write(folder / "target.txt", "earlier\n");
  fs::permissions(folder / "target.txt", fs::perms(0640));
  fs::create_symlink("target.txt", folder / "out.txt");
  output_file out;
  ASSERT_TRUE(open_output(out, (folder / "out.txt").c_str()));
  write_output(out, "new\n");
  ASSERT_TRUE(close_output(out));
  EXPECT_TRUE(fs::is_symlink(folder / "out.txt"));
  EXPECT_EQ(fs::status(folder / "target.txt").permissions(), fs::perms(0640));
  EXPECT_EQ(read(folder / "target.txt"), "new\n");
  fs::remove_all(folder);
}

}  // namespace
}  // namespace fixfir
