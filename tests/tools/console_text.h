#pragma once
// The console texts of a fixfir run, for the end-to-end tests.

#include <string>

namespace fixfir_test {

inline const std::string questions =
    "\nInput precision : \nInput Initial Frequency : \nInput Frequency Step : "
    "\nInput Ending Frequency : ";
inline const std::string note =
    "\n\n\nNOTE ** Calculating the Frequency Response of a filter takes some time \n"
    "(a few min) and can only changed if you have updated taps.txt.\n\n"
    "Enter 1 if you would like to calculate the Frequency Response of the filter : ";
inline const std::string calculating = "Calculating Frequency Response";
inline const std::string skipping = "Skipping Frequency Response";
inline const std::string invalid_step = "Invalid frequency step\n";
inline const std::string cannot_open = "Cannot open output file\n";
inline const std::string cannot_write = "Cannot write output file\n";
inline const std::string not_found = "File Not Found\n";
inline const std::string out_of_memory = "Out of memory\n";

}  // namespace fixfir_test
