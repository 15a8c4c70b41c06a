#include "fixfir/report/picture_script.h"

namespace fixfir {

namespace {

// `png_name` is one of the fixed names of picture_script.h, never a user's path.
void append_terminal(std::string& out, int width, int height, const char* png_name) {
  const std::string size = std::to_string(width) + "," + std::to_string(height);
  // Debian's gnuplot-nox has both; the cairo one draws smoother lines.
  out += "if (strstrt(GPVAL_TERMINALS, ' pngcairo ') > 0) {\n";
  out += "  set terminal pngcairo size " + size + " font 'sans,10'\n";
  out += "} else {\n";
  out += "  set terminal png size " + size + "\n";
  out += "}\n";
  out += std::string("set output '") + png_name + "'\n";
}

// The same pictures as SVG for report.html: gnuplot's script for hiding a curve by
// clicking its key entry goes inside the file, and `name` prefixes the element ids so
// that the pictures of one page keep apart.
void append_svg_terminal(std::string& out, int width, int height, const char* name) {
  out += "set terminal svg size " + std::to_string(width) + "," + std::to_string(height) +
         " dynamic font 'sans,10' mouse standalone name '" + name + "'\n";
  out += std::string("set output '") + name + ".svg'\n";
}

// One picture: `append` sets the terminal and the output file after a reset, so nothing set
// for an earlier picture of the same run (labels, arrows, shading) carries over; reset
// leaves the terminal and the output alone.
std::string script_with(void (*append)(std::string&, int, int, const char*), const char* name,
                        int width, int height, const std::string& body) {
  std::string s = "reset\n";
  append(s, width, height, name);
  s += body;
  s += "unset output\n";
  return s;
}

}  // namespace

std::string svg_picture_script(const char* name, int width, int height, const std::string& body) {
  return script_with(append_svg_terminal, name, width, height, body);
}

std::string picture_script(const char* png_name, int width, int height, const std::string& body) {
  return script_with(append_terminal, png_name, width, height, body);
}

}  // namespace fixfir
