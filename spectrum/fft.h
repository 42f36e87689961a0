#pragma once
#include <vector>

// Fills blackmanWin with FFT_SIZE Blackman coefficients on its first call;
// later calls return at once. Spectrum worker only.
void initBlackman();

// In-place forward radix-2 transform, unscaled, single precision with
// recurrence twiddles. re.size() must be a power of two and im the same size;
// other lengths are left untouched.
void fft(std::vector<float>& re, std::vector<float>& im);
