"""The waveform test's models that fixfir.plot.waves draws against the report's figures:
the double-precision and coefficient-only outputs, the truncation model's error, and the
report's averaged spectrum."""

import numpy as np

from . import _fixfir

SPECTRUM_SEGMENT = 1024  # samples per Hann segment of the error spectrum, as the report's


def _welch(x, segment=SPECTRUM_SEGMENT):
    """The report's averaged spectrum: Hann segments overlapping by half, the power per bin
    (white noise of variance v reads 2 v / segment)."""
    window = 0.5 - 0.5 * np.cos(2 * np.pi * np.arange(segment) / segment)
    starts = range(0, max(len(x) - segment, 0) + 1, segment // 2)
    power = np.zeros(segment // 2 + 1)
    for start in starts:
        piece = np.zeros(segment)
        chunk = x[start:start + segment]
        piece[:len(chunk)] = chunk
        power += np.abs(np.fft.rfft(window * piece)) ** 2
    return power * 2 / (np.sum(window**2) * segment * len(starts))


def _waveform_model(taps, precision, x):
    """The report's models of the waveform test: the unquantized taps in double precision,
    the quantized coefficients in exact arithmetic, and the truncation model's mean error
    with the power of its white part (each sample truncated toward zero errs by -sign(x) u,
    u uniform on [0, 2^-P): a mean the coefficients filter like the signal, and white noise
    of variance 2^-2P / 12), and the coefficients in real units."""
    t = np.asarray(taps)
    h = (t if t.dtype == np.float32 else t.astype(np.float64).astype(np.float32)).astype(float)
    c, scale = _fixfir.quantize(taps, precision)
    hc, q = c / float(scale), 1.0 / float(scale)
    n = len(x)
    mean = np.convolve(-np.sign(x) * q / 2, hc)[:n]
    white = q * q / 12 * np.count_nonzero(x) / n
    return np.convolve(x, h)[:n], np.convolve(x, hc)[:n], mean, white, hc


def _error_spectra(taps, precision, x, fixed):
    """The double-precision output, and the spectra of the output error, of its
    coefficient-quantization part and of the arithmetic noise the truncation model
    predicts."""
    reference, coefficient_model, mean, white, hc = _waveform_model(taps, precision, x)
    every = -(-len(hc) // SPECTRUM_SEGMENT)  # a grid of SPECTRUM_SEGMENT bins, exactly
    gain = np.abs(np.fft.rfft(hc, SPECTRUM_SEGMENT * every))[::every]
    predicted = _welch(mean) + 2 * white * gain**2 / SPECTRUM_SEGMENT
    return (reference, _welch(fixed - reference), _welch(coefficient_model - reference),
            predicted)
