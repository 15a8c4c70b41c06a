#pragma once
// fixfir-report from the command line to the summary and the pictures.

#include <cstdio>
#include <span>

namespace fixfir {

/// Runs the report for the arguments after the program name: the summary goes to `out`,
/// problems to `err`. Returns the exit status: 0 on success (also when gnuplot is
/// missing and only the summary could be given), 1 when the tap file is unusable (a
/// count below 1 or unreadable, or fewer taps than the count that are numbers), a
/// picture or `out` cannot be written, or gnuplot fails; 2 for bad options. Every failure
/// is said and given its status by say_failure.
int run_report(std::span<const char* const> args, std::FILE* out, std::FILE* err);

}  // namespace fixfir
