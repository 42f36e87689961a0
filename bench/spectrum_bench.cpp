// Prints the cost of one spectrum analysis and of one bare 65,536-point
// transform, with FFTW's single-precision complex transform of the same size,
// planned ESTIMATE, MEASURE and PATIENT, as reference points, and each cost as
// a multiple of each of FFTW's from the same run. Figures to read, not a
// pass/fail test. Each is run three times, in an order shuffled across all of
// them, and its best run counts: a busy moment then weighs on all alike
// rather than on whichever ran during it.
#include <benchmark/benchmark.h>
#include <fftw3.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <iterator>
#include <map>
#include <memory>
#include <numbers>
#include <string>
#include <vector>

#include "base/shared_state.h"
#include "spectrum/fft.h"
#include "spectrum/fft_kernels.h"
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

// fft() with the kernels it picks for this processor, or with the SSE2 ones
// that every x86-64 processor runs.
void transform65536(benchmark::State& state, const FftKernels& kernels) {
    const std::vector<int16_t> block = toneBlock();
    std::vector<float> re(FFT_SIZE), im(FFT_SIZE);
    for (auto _ : state) {
        state.PauseTiming();
        for (size_t i = 0; i < FFT_SIZE; ++i) re[i] = block[i] / 32768.0f;
        std::fill(im.begin(), im.end(), 0.0f);
        state.ResumeTiming();
        fftWith(kernels, re.data(), im.data(), FFT_SIZE);
        benchmark::DoNotOptimize(re.data());
    }
}
void fft65536(benchmark::State& state) { transform65536(state, fftKernels()); }
BENCHMARK(fft65536)->Unit(benchmark::kMillisecond);
void fft65536Sse2(benchmark::State& state) { transform65536(state, SSE2_FFT_KERNELS); }
BENCHMARK(fft65536Sse2)->Unit(benchmark::kMillisecond);

// FFTW's transform of the same size, planned with one flag and none of the
// wisdom another plan gathered. Planning overwrites the arrays, so the input
// goes in afterwards; the plan is made once, however often the benchmark runs.
struct FftwPlan {
    explicit FftwPlan(unsigned flags) {
        fftwf_forget_wisdom();
        const auto start = std::chrono::steady_clock::now();
        plan = fftwf_plan_dft_1d(static_cast<int>(FFT_SIZE), in, out, FFTW_FORWARD, flags);
        planSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        const std::vector<int16_t> block = toneBlock();
        for (size_t i = 0; i < FFT_SIZE; ++i) {
            in[i][0] = block[i] / 32768.0f;
            in[i][1] = 0.0f;
        }
    }
    ~FftwPlan() {
        fftwf_destroy_plan(plan);
        fftwf_free(in);
        fftwf_free(out);
    }
    fftwf_complex* in = fftwf_alloc_complex(FFT_SIZE);
    fftwf_complex* out = fftwf_alloc_complex(FFT_SIZE);
    fftwf_plan plan;
    double planSeconds;
};

std::map<unsigned, std::unique_ptr<FftwPlan>> fftwPlans;

void fftw65536(benchmark::State& state, unsigned flags) {
    std::unique_ptr<FftwPlan>& plan = fftwPlans[flags];
    if (!plan) plan = std::make_unique<FftwPlan>(flags);
    for (auto _ : state) {
        fftwf_execute(plan->plan);
        benchmark::DoNotOptimize(plan->out);
    }
}
void fftwEstimate65536(benchmark::State& state) { fftw65536(state, FFTW_ESTIMATE); }
BENCHMARK(fftwEstimate65536)->Unit(benchmark::kMillisecond);
void fftwMeasure65536(benchmark::State& state) { fftw65536(state, FFTW_MEASURE); }
BENCHMARK(fftwMeasure65536)->Unit(benchmark::kMillisecond);
void fftwPatient65536(benchmark::State& state) { fftw65536(state, FFTW_PATIENT); }
BENCHMARK(fftwPatient65536)->Unit(benchmark::kMillisecond);

// The table of every run (without the mean, median and spread of each
// benchmark's runs), keeping each benchmark's best CPU time per iteration
// (all in milliseconds) for the ratios printed after it.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    RatioReporter() : ConsoleReporter(OO_Tabular) {}  // plain text: the output is often piped
    void ReportRuns(const std::vector<Run>& reported) override {
        std::vector<Run> runs;
        std::copy_if(reported.begin(), reported.end(), std::back_inserter(runs),
                     [](const Run& run) { return run.run_type == Run::RT_Iteration; });
        if (runs.empty()) return;
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            const auto [it, added] =
                bestCpuMs.try_emplace(run.run_name.function_name, run.GetAdjustedCPUTime());
            if (!added) it->second = std::min(it->second, run.GetAdjustedCPUTime());
        }
    }
    std::map<std::string, double> bestCpuMs;
};

}  // namespace

int main(int argc, char** argv) {
    // Defaults that the command line may override: a flag given twice takes its last value.
    std::vector<char*> args{argv[0], const_cast<char*>("--benchmark_repetitions=3"),
                            const_cast<char*>("--benchmark_enable_random_interleaving=true")};
    args.insert(args.end(), argv + 1, argv + argc);
    args.push_back(nullptr);
    argc = static_cast<int>(args.size()) - 1;
    argv = args.data();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::map<std::string, double>& best = reporter.bestCpuMs;
    const struct {
        const char* flag;
        unsigned value;
        const char* benchmark;
        const char* target;
    } references[] = {
        {"FFTW_PATIENT", FFTW_PATIENT, "fftwPatient65536", " (target: at most 1.0x)"},
        {"FFTW_MEASURE", FFTW_MEASURE, "fftwMeasure65536", ""},
        {"FFTW_ESTIMATE", FFTW_ESTIMATE, "fftwEstimate65536", ""},
    };
    // A benchmark left out by --benchmark_filter shows as "-".
    auto multiple = [&](const char* name, double fftw) {
        char text[16] = "-";
        if (best.count(name) != 0) std::snprintf(text, sizeof text, "%.2fx", best[name] / fftw);
        return std::string(text);
    };
    for (const auto& reference : references) {
        if (best.count(reference.benchmark) == 0 || !fftwPlans[reference.value]) continue;
        const double fftw = best[reference.benchmark];
        std::printf(
            "CPU time as a multiple of %s's (planned in %.1f s): processFFT %s%s, fft %s, "
            "fft with SSE2 only %s\n",
            reference.flag, fftwPlans[reference.value]->planSeconds, multiple("processFftOnce", fftw).c_str(),
            reference.target, multiple("fft65536", fftw).c_str(), multiple("fft65536Sse2", fftw).c_str());
    }
    fftwPlans.clear();
    benchmark::Shutdown();
    return 0;
}
