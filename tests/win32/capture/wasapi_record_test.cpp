// Takes recorded through the real shared-mode capture engine (Wine's, talking
// to the private sound server that run_capture_test.sh prepares). The script
// selects the case and says what the server is playing:
//   QUORVEL_TONE_HZ          a sine of this frequency is playing into the sink
//                            that the default capture device monitors
//   QUORVEL_EXPECT_NO_SERVER no sound server is reachable
//   QUORVEL_KILL_SIGNAL      (with QUORVEL_TONE_HZ) the server plays the tone
//                            until this file appears, then goes away
// A case whose condition is not announced is skipped.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include "app/messages.h"
#include "app/shared_state.h"
#include "platform/win32/wasapi_capture_source.h"
#include "recording/sample_conversion.h"
#include "shared_state_reset.h"
#include "threaded_take.h"
#include "wav_analysis.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr auto TAKE_LENGTH = 2500ms;
constexpr uint32_t EXPECTED_RATE = 48000;
// The script plays the tone at half of full scale.
constexpr double TONE_AMPLITUDE = 0.5 * 32767.0;
// Truncation to 16 bits leaves each sample up to 1 unit off, so the
// three-term recurrence can miss by up to 4; a slipped, lost or repeated
// stretch of samples misses by hundreds.
constexpr double CONTINUITY_TOLERANCE = 6.0;

double secondsBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double>(to - from).count();
}

// A fresh take file in the temporary folder, and a process-wide state as a
// fresh process would have it.
fs::path freshTake(const char* name) {
    resetSharedState();
    const fs::path path = fs::temp_directory_path() / name;
    fs::remove(path);
    return path;
}

// STARTED, the updates of the take, DONE. The spectrum worker also posts
// updates, and may do so until the recording thread has joined it, which
// happens after DONE.
void expectTakePosts(const FakeWindow& window) {
    const std::vector<uint32_t> posted = window.posted();
    ASSERT_EQ(window.lifecyclePosts(),
              (std::vector<uint32_t>{WM_APP_RECORDING_STARTED, WM_APP_RECORDING_DONE}));
    EXPECT_EQ(posted.front(), WM_APP_RECORDING_STARTED);
    const auto done = std::find(posted.begin(), posted.end(), WM_APP_RECORDING_DONE);
    const auto updates = std::count(posted.begin(), done, WM_APP_UPDATE_VISUALS);
    std::printf("%zu updates before DONE, %zu after\n", size_t(updates), size_t(posted.end() - done - 1));
    EXPECT_GT(updates, 0);
    EXPECT_TRUE(window.errorBoxes().empty());
}

// A canonical header of a 16-bit stereo take at the expected rate.
WavContents readStereoTake(const fs::path& path) {
    WavContents wav = readWav(path.string());
    EXPECT_TRUE(wav.valid) << path;
    EXPECT_EQ(wav.channels, 2);
    EXPECT_EQ(wav.sampleRate, EXPECTED_RATE);
    return wav;
}

// The tone, sample by sample, from its first loud sample to the end of the
// take: unbroken, at toneHz and the script's level, the same in both
// channels. Silence may come first, until the server's stream reaches the
// monitor; the first samples of the tone are skipped in case of a ramp-in.
void expectUnbrokenTone(const WavContents& wav, double toneHz) {
    ASSERT_TRUE(wav.valid && wav.channels == 2);
    const std::vector<double> left = channelOf(wav, 0);
    const std::vector<double> right = channelOf(wav, 1);
    const size_t start = firstLoud(left, 1000.0) + 8;
    ASSERT_GT(left.size(), start + EXPECTED_RATE / 2) << "less than 0.5 s of tone";
    const RecurrenceError miss = largestRecurrenceError(left, start, toneHz, EXPECTED_RATE);
    double peak = 0.0;
    for (size_t n = start; n < left.size(); ++n) peak = std::max(peak, std::fabs(left[n]));
    std::printf("tone from frame %zu of %zu; peak %.0f; worst recurrence miss %.2f at frame %zu\n", start,
                left.size(), peak, miss.largest, miss.at + 1);
    EXPECT_LE(miss.largest, CONTINUITY_TOLERANCE) << "discontinuity at frame " << miss.at + 1;
    EXPECT_TRUE(std::equal(left.begin() + start, left.end(), right.begin() + start))
        << "left and right differ";
    EXPECT_NEAR(peak, TONE_AMPLITUDE, 0.02 * TONE_AMPLITUDE);
    EXPECT_NEAR(sineFrequency(left, start, EXPECTED_RATE), toneHz, 2.0);
}

TEST(WasapiCapture, MixFormatIsOneTheRecorderAccepts) {
    if (std::getenv("QUORVEL_TONE_HZ") == nullptr) GTEST_SKIP() << "no sound server announced";

    auto source = makeWasapiCaptureSource();
    source->initializeThread();
    WaveFormat* format = nullptr;
    Status status = source->createEnumerator();
    ASSERT_FALSE(failed(status)) << std::hex << status;
    status = source->getDefaultCaptureEndpoint();
    ASSERT_FALSE(failed(status)) << std::hex << status;
    status = source->activateAudioClient();
    ASSERT_FALSE(failed(status)) << std::hex << status;
    status = source->getMixFormat(&format);
    ASSERT_FALSE(failed(status)) << std::hex << status;
    ASSERT_NE(format, nullptr);

    std::printf("mix format: tag 0x%04X, %u channels, %u Hz, %u bits, block %u, %u bytes/s, cbSize %u",
                format->wFormatTag, format->nChannels, unsigned(format->nSamplesPerSec),
                format->wBitsPerSample, format->nBlockAlign, unsigned(format->nAvgBytesPerSec),
                format->cbSize);
    if (format->wFormatTag == WAVE_FORMAT_EXTENSIBLE) {
        const auto* extensible = reinterpret_cast<const WaveFormatExtensible*>(format);
        const FormatGuid& sub = extensible->SubFormat;
        std::printf(
            ", valid bits %u, channel mask 0x%X, sub-format "
            "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
            extensible->wValidBitsPerSample, unsigned(extensible->dwChannelMask), unsigned(sub.data1),
            sub.data2, sub.data3, sub.data4[0], sub.data4[1], sub.data4[2], sub.data4[3], sub.data4[4],
            sub.data4[5], sub.data4[6], sub.data4[7]);
    }
    std::printf("\n");
    EXPECT_TRUE(isFormatFloat32(format) || isFormatPCM16(format));
    EXPECT_EQ(format->nSamplesPerSec, uint32_t(EXPECTED_RATE));

    source->freeMixFormat(format);
    source->releaseAudioClient();
    source->releaseDevice();
    source->releaseEnumerator();
    source->uninitializeThread();
}

TEST(WasapiCapture, RecordsTheToneWithoutGaps) {
    const char* toneSetting = std::getenv("QUORVEL_TONE_HZ");
    if (toneSetting == nullptr) GTEST_SKIP() << "no tone announced";
    const double toneHz = std::atof(toneSetting);
    ASSERT_GT(toneHz, 0.0);

    const fs::path path = freshTake("quorvel_wasapi_tone.wav");
    ThreadedTake take(path, makeWasapiCaptureSource());
    EXPECT_TRUE(take.window.waitFor(WM_APP_RECORDING_STARTED));
    const auto started = Clock::now();
    std::this_thread::sleep_for(TAKE_LENGTH);
    const auto stopped = Clock::now();
    take.finish();
    EXPECT_FALSE(recordingThreadActive);
    expectTakePosts(take.window);

    // The take holds what the stream delivered between its start (just before
    // STARTED) and the stop; the engine's period and the last poll make up
    // the difference.
    const WavContents wav = readStereoTake(path);
    const double recorded = double(wav.frames()) / EXPECTED_RATE;
    std::printf("recorded %.3f s; stop %.3f s after STARTED\n", recorded, secondsBetween(started, stopped));
    EXPECT_NEAR(recorded, secondsBetween(started, stopped), 0.25);
    expectUnbrokenTone(wav, toneHz);
    fs::remove(path);
}

TEST(WasapiCaptureNoServer, SetupFailsCleanly) {
    if (std::getenv("QUORVEL_EXPECT_NO_SERVER") == nullptr) GTEST_SKIP() << "a sound server may be reachable";

    const fs::path path = freshTake("quorvel_wasapi_no_server.wav");
    ThreadedTake take(path, makeWasapiCaptureSource());
    EXPECT_TRUE(take.window.waitFor(WM_APP_RECORDING_FAILED));
    take.finish();

    EXPECT_EQ(take.window.posted(), std::vector<uint32_t>{WM_APP_RECORDING_FAILED});
    EXPECT_EQ(lastTakeOutcome.load(), TakeOutcome::DeviceFailed);
    EXPECT_FALSE(fs::exists(path));
    EXPECT_FALSE(recordingThreadActive);
    EXPECT_TRUE(take.window.errorBoxes().empty());
}

// The server goes away in the middle of a take. Wine's engine then simply
// delivers no more packets (on Windows a lost device fails the packet-size
// query instead, which ends the take by itself), so the take runs on until
// Stop. What was captured before must all be in the file.
TEST(WasapiCaptureServerVanishes, KeepsWhatWasRecorded) {
    const char* toneSetting = std::getenv("QUORVEL_TONE_HZ");
    const char* killSignal = std::getenv("QUORVEL_KILL_SIGNAL");
    if (toneSetting == nullptr || killSignal == nullptr) GTEST_SKIP() << "no server is going away";
    const double toneHz = std::atof(toneSetting);
    const fs::path signalPath(killSignal);

    const fs::path path = freshTake("quorvel_wasapi_vanish.wav");
    ThreadedTake take(path, makeWasapiCaptureSource());
    EXPECT_TRUE(take.window.waitFor(WM_APP_RECORDING_STARTED));
    const auto started = Clock::now();
    std::this_thread::sleep_for(1500ms);
    const auto killed = Clock::now();
    std::ofstream(signalPath) << "now\n";
    // The script kills the server within a poll of seeing the file; the take
    // then goes on for a while without it before Stop.
    std::this_thread::sleep_for(1500ms);
    const std::vector<uint32_t> beforeStop = take.window.posted();
    const bool endedByItself =
        std::find(beforeStop.begin(), beforeStop.end(), WM_APP_RECORDING_DONE) != beforeStop.end();
    take.finish();
    EXPECT_FALSE(recordingThreadActive);
    std::printf("the take %s before Stop\n", endedByItself ? "ended by itself" : "was still running");
    expectTakePosts(take.window);

    // Whatever the server delivered up to its end, and nothing after it.
    const WavContents wav = readStereoTake(path);
    const double recorded = double(wav.frames()) / EXPECTED_RATE;
    std::printf("recorded %.3f s; the server was told to go %.3f s after STARTED\n", recorded,
                secondsBetween(started, killed));
    EXPECT_GT(recorded, secondsBetween(started, killed) - 0.25);
    expectUnbrokenTone(wav, toneHz);
    fs::remove(path);
    fs::remove(signalPath);
}

}  // namespace
