// The filters in fixtures/, designed with a standard design tool by
// fixtures/design_fixtures.py: their taps as fixfir reads them, and their true bands and
// figures. Needs FIXFIR_FIXTURES, the folder that holds them.
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "fixfir/measurement/bands.h"

namespace fixfir::testing {

/// A designed filter: its name (the file's stem), tap count, bands (Hz) and the design's own
/// pass-band ripple and stop-band attenuations (dB).
struct design_row {
  const char* name;
  int taps;
  std::vector<band> passbands;
  std::vector<band> stopbands;
  double ripple_db;
  std::vector<double> attenuation_db;
};

/// Every designed filter, the Kaiser low-pass first.
inline const std::vector<design_row> designs = {
#include "../fixtures/design_figures.inc"
};

/// The taps of fixtures/`name`.txt (the count, then one tap a line); a test that reads it
/// short fails.
inline std::vector<float> fixture_taps(const std::string& name) {
  std::ifstream in(std::string(FIXFIR_FIXTURES) + "/" + name + ".txt");
  int count = 0;
  in >> count;
  std::vector<float> taps(static_cast<std::size_t>(count));
  for (float& t : taps) in >> t;
  EXPECT_TRUE(in) << name;
  return taps;
}

/// The taps as doubles, for the double-precision references.
inline std::vector<double> as_double(const std::vector<float>& taps) {
  return {taps.begin(), taps.end()};
}

}  // namespace fixfir::testing
