#pragma once
// --explore --cost cells: the front's cheapest datapaths by the formula, each exported as
// the Verilog module and synthesized with yosys, and the one with the fewest cells chosen.

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <vector>

#include "fixfir/common/result.h"
#include "fixfir/measurement/datapath_search.h"

namespace fixfir {

// Datapaths synthesized at most, and yosys runs at once.
inline constexpr std::size_t most_synthesized = 4;
inline constexpr std::size_t synthesis_runs_at_once = 2;

// One synthesized datapath: its place in the front and its cell count.
struct cell_count {
  std::size_t front_index = 0;
  std::int64_t cells = 0;
};

// The synthesis' outcome: the counts, cheapest by the formula first, or why there are
// none ("" when there are); `interrupted` when an interrupt stopped it.
struct cell_costs {
  std::vector<cell_count> counts;
  std::string problem;
  bool interrupted = false;
};

// The cell count in yosys' `stat` text (its last "Number of cells:" line), or -1.
[[nodiscard]] std::int64_t cells_in_stat(const std::string& text);

// Synthesizes the `most_synthesized` cheapest front datapaths of `r` that meet the
// targets, `synthesis_runs_at_once` at a time, with the progress bar on `err`, each as
// the module `fixfir_filter` in a private folder.
[[nodiscard]] cell_costs synthesize_front(std::span<const float> taps, const search_report& r,
                                          const std::string& yosys, std::FILE* err);

// --cost cells after the search: yosys found on PATH and the front synthesized, the
// recommendation of `r` made the fewest cells, and the lines that say so; where yosys is
// missing or fails, one line on `err` and `r` left as the formula made it. Fails only when
// interrupted.
[[nodiscard]] result<std::vector<std::string>> cells_for_explore(std::span<const float> taps,
                                                                 search_report& r, std::FILE* err);

// Makes the fewest cells in `costs` the recommendation of `r` (its `why` says so) and returns
// the lines that give each one's cells.
std::vector<std::string> recommend_by_cells(const cell_costs& costs, search_report& r);

}  // namespace fixfir
