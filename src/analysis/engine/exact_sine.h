#pragma once
// The C library's sines and cosines, bit for bit, from a vector sine that knows when it
// can tell.
//
// The waveform test's exact inputs are sums of std::sin values that every later number
// depends on, so a faster sine must return the library's very bits. The vector sine computes
// sin(a) to far more than double precision and rounds it; where the rounded value is
// certain to be the library's it is used, elsewhere std::sin is called. exact_sine.cpp holds
// the bound and the measured accuracy of the library it rests on.

#include <cstddef>

#include "guarded_sine.h"

namespace fixfir {

/// s[n] = std::sin(a[n]) for n < count, bit for bit. Returns how many needed std::sin.
/// `s` must not overlap `a`.
std::size_t exact_sines(const double* a, double* s, std::size_t count,
                        sine_lanes lanes = best_sine_lanes()) noexcept;

/// c[n] = std::cos(a[n]) for n < count, bit for bit, the same way. `c` must not overlap `a`.
std::size_t exact_cosines(const double* a, double* c, std::size_t count,
                          sine_lanes lanes = best_sine_lanes()) noexcept;

/// x[n] = exact_multitone(tones, times[n]) for n < count, bit for bit: the same sines,
/// divided and added in the same order. Returns how many sines needed std::sin.
std::size_t exact_multitones(const tone_set& tones, const double* times, double* x,
                             std::size_t count, sine_lanes lanes = best_sine_lanes()) noexcept;

}  // namespace fixfir
