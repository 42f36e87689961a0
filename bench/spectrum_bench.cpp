// Prints the cost of one spectrum analysis and of one bare 65,536-point
// transform, with FFTW's single-precision complex transform of the same size
// as a reference point. Figures to read, not a pass/fail test.
#include <benchmark/benchmark.h>
#include <fftw3.h>

#include <cmath>
#include <numbers>
#include <vector>

#include "app/shared_state.h"
#include "spectrum/fft.h"
#include "spectrum/spectrum_worker.h"

namespace {

std::vector<int16_t> toneBlock() {
    std::vector<int16_t> block(FFT_SIZE);
    for (size_t i = 0; i < block.size(); ++i)
        block[i] = static_cast<int16_t>(16000.0 * std::sin(2.0 * std::numbers::pi * 1000.0 * i / 48000.0));
    return block;
}

void processFftOnce(benchmark::State& state) {
    const std::vector<int16_t> block = toneBlock();
    initBlackman();  // the one-off window is not what a steady take pays
    for (auto _ : state) processFFT(block.data(), block.size(), 48000);
}
BENCHMARK(processFftOnce)->Unit(benchmark::kMillisecond);

void fft65536(benchmark::State& state) {
    const std::vector<int16_t> block = toneBlock();
    std::vector<float> re(FFT_SIZE), im(FFT_SIZE);
    for (auto _ : state) {
        state.PauseTiming();
        for (size_t i = 0; i < FFT_SIZE; ++i) re[i] = block[i] / 32768.0f;
        std::fill(im.begin(), im.end(), 0.0f);
        state.ResumeTiming();
        fft(re, im);
        benchmark::DoNotOptimize(re.data());
    }
}
BENCHMARK(fft65536)->Unit(benchmark::kMillisecond);

void fftwReference65536(benchmark::State& state) {
    const std::vector<int16_t> block = toneBlock();
    fftwf_complex* in = fftwf_alloc_complex(FFT_SIZE);
    fftwf_complex* out = fftwf_alloc_complex(FFT_SIZE);
    fftwf_plan plan = fftwf_plan_dft_1d(static_cast<int>(FFT_SIZE), in, out, FFTW_FORWARD, FFTW_ESTIMATE);
    for (size_t i = 0; i < FFT_SIZE; ++i) {
        in[i][0] = block[i] / 32768.0f;
        in[i][1] = 0.0f;
    }
    for (auto _ : state) {
        fftwf_execute(plan);
        benchmark::DoNotOptimize(out);
    }
    fftwf_destroy_plan(plan);
    fftwf_free(in);
    fftwf_free(out);
}
BENCHMARK(fftwReference65536)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
