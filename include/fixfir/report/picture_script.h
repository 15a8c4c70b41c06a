#pragma once
// The script around one picture's body: the terminal (PNG, or SVG for the page) and the
// fixed output name in gnuplot's working folder, after a reset so that nothing set for an
// earlier picture carries over.

#include <string>

namespace fixfir {

inline constexpr const char* response_png_name = "response.png";
inline constexpr const char* waves_png_name = "waves.png";
inline constexpr const char* scan_png_name = "scan.png";
inline constexpr const char* explore_png_name = "explore.png";

/// The script that draws `body` (gnuplot commands that plot, with their data inline) to
/// the fixed name `png_name` in gnuplot's working folder at `width` × `height`.
[[nodiscard]] std::string picture_script(const char* png_name, int width, int height,
                                         const std::string& body);

/// The script that draws `body` as SVG, for a page, to "`name`.svg" in gnuplot's working
/// folder; `name` is a fixed word (such as "response") that also prefixes the SVG's ids.
[[nodiscard]] std::string svg_picture_script(const char* name, int width, int height,
                                             const std::string& body);

}  // namespace fixfir
