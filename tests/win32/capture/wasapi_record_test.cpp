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
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <numbers>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "app/messages.h"
#include "app/shared_state.h"
#include "app/window_port.h"
#include "platform/win32/wasapi_capture_source.h"
#include "recording/recording_thread.h"
#include "recording/sample_conversion.h"
#include "spectrum/spectrum_worker.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto TAKE_LENGTH = std::chrono::milliseconds(2500);
constexpr int64_t EXPECTED_RATE = 48000;
// The script plays the tone at half of full scale.
constexpr double TONE_AMPLITUDE = 0.5 * 32767.0;
// Truncation to 16 bits leaves each sample up to 1 unit off, so the
// three-term recurrence can miss by up to 4; a slipped, lost or repeated
// stretch of samples misses by hundreds.
constexpr double CONTINUITY_TOLERANCE = 6.0;

class RecordingWindow final : public WindowPort {
public:
    struct Post {
        uint32_t message;
        Clock::time_point when;
    };

    void postMessage(uint32_t message) override {
        std::lock_guard<std::mutex> lock(mutex_);
        posts_.push_back({message, Clock::now()});
    }
    void showErrorBox(const std::wstring& text, const std::wstring&) override {
        std::lock_guard<std::mutex> lock(mutex_);
        errorBoxes_.push_back(text);
    }
    void setStatusText(const std::wstring&) override {}
    void enableButton(int, bool) override {}
    void invalidatePanel(int) override {}
    void destroyWindow() override {}
    std::wstring browseSavePath() override { return L""; }

    std::vector<Post> posts() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return posts_;
    }
    size_t errorBoxCount() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return errorBoxes_.size();
    }

private:
    mutable std::mutex mutex_;
    std::vector<Post> posts_;
    std::vector<std::wstring> errorBoxes_;
};

const char* messageName(uint32_t message) {
    switch (message) {
    case WM_APP_UPDATE_VISUALS: return "UPDATE_VISUALS";
    case WM_APP_RECORDING_DONE: return "RECORDING_DONE";
    case WM_APP_RECORDING_STARTED: return "RECORDING_STARTED";
    case WM_APP_RECORDING_FAILED: return "RECORDING_FAILED";
    default: return "unknown";
    }
}

std::string describe(const std::vector<RecordingWindow::Post>& posts) {
    std::string text;
    uint32_t previous = 0;
    size_t repeats = 0;
    auto flush = [&] {
        if (repeats == 0) return;
        text += std::string(text.empty() ? "" : ", ") + messageName(previous);
        if (repeats > 1) text += " x" + std::to_string(repeats);
    };
    for (const auto& post : posts) {
        if (post.message != previous) {
            flush();
            previous = post.message;
            repeats = 0;
        }
        ++repeats;
    }
    flush();
    return text.empty() ? "(none)" : text;
}

std::filesystem::path takePath(const char* name) {
    return std::filesystem::temp_directory_path() / name;
}

struct WavFile {
    bool valid = false;
    std::string problem;
    uint32_t riffSize = 0;
    uint16_t formatTag = 0;
    uint16_t channels = 0;
    uint32_t sampleRate = 0;
    uint32_t byteRate = 0;
    uint16_t blockAlign = 0;
    uint16_t bitsPerSample = 0;
    uint32_t dataSize = 0;
    uint64_t fileSize = 0;
    std::vector<int16_t> samples;
};

uint32_t readLE(const std::vector<uint8_t>& bytes, size_t offset, size_t width) {
    uint32_t value = 0;
    for (size_t i = 0; i < width; ++i) value |= uint32_t(bytes[offset + i]) << (8 * i);
    return value;
}

WavFile readWav(const std::filesystem::path& path) {
    WavFile wav;
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        wav.problem = "cannot open " + path.string();
        return wav;
    }
    const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    wav.fileSize = bytes.size();
    if (bytes.size() < 44) {
        wav.problem = "only " + std::to_string(bytes.size()) + " bytes";
        return wav;
    }
    const std::string tags = std::string(bytes.begin(), bytes.begin() + 4) +
                             std::string(bytes.begin() + 8, bytes.begin() + 16) +
                             std::string(bytes.begin() + 36, bytes.begin() + 40);
    if (tags != "RIFFWAVEfmt data" || readLE(bytes, 16, 4) != 16) {
        wav.problem = "not a canonical 44-byte PCM header";
        return wav;
    }
    wav.riffSize = readLE(bytes, 4, 4);
    wav.formatTag = uint16_t(readLE(bytes, 20, 2));
    wav.channels = uint16_t(readLE(bytes, 22, 2));
    wav.sampleRate = readLE(bytes, 24, 4);
    wav.byteRate = readLE(bytes, 28, 4);
    wav.blockAlign = uint16_t(readLE(bytes, 32, 2));
    wav.bitsPerSample = uint16_t(readLE(bytes, 34, 2));
    wav.dataSize = readLE(bytes, 40, 4);
    const size_t available = std::min<size_t>(wav.dataSize, bytes.size() - 44) / 2;
    wav.samples.resize(available);
    for (size_t i = 0; i < available; ++i) wav.samples[i] = int16_t(uint16_t(readLE(bytes, 44 + 2 * i, 2)));
    wav.valid = true;
    return wav;
}

// Resets what a take leaves behind, so each case starts as a fresh process would.
void resetSharedState(WindowPort* window) {
    hwndMain = window;
    isRecording = false;
    recordingThreadActive = false;
    dominantFreqHz = 0.0f;
    {
        std::lock_guard<std::mutex> lock(waveformMutex);
        waveformBufferL.clear();
    }
    {
        std::lock_guard<std::mutex> lock(spectrumMutex);
        spectrumBuffer.clear();
    }
}

struct ToneCheck {
    size_t start = 0;   // first frame checked
    size_t frames = 0;  // frames checked
    int16_t peak = 0;
    double worstMiss = 0.0;
    size_t worstAt = 0;
    size_t channelMismatches = 0;
};

// Checks a stereo take of a sine of toneHz sample by sample: each left sample
// must follow from the two before it, and the right channel must equal the
// left. Silence may come first, until the server's stream reaches the
// monitor; the first samples of the tone are skipped in case of a ramp-in.
ToneCheck checkTone(const std::vector<int16_t>& left, const std::vector<int16_t>& right, double toneHz) {
    ToneCheck check;
    const auto loud = std::find_if(left.begin(), left.end(), [](int16_t s) { return std::abs(s) > 1000; });
    if (loud == left.end()) return check;
    check.start = size_t(loud - left.begin()) + 8;
    if (check.start >= left.size()) return check;
    check.frames = left.size() - check.start;

    const double twoCos = 2.0 * std::cos(2.0 * std::numbers::pi * toneHz / EXPECTED_RATE);
    for (size_t n = check.start; n < left.size(); ++n) {
        if (left[n] != right[n]) ++check.channelMismatches;
        check.peak = std::max<int16_t>(check.peak, int16_t(std::abs(left[n])));
        if (n + 1 < left.size() && n > check.start) {
            const double miss = std::abs(double(left[n + 1]) - (twoCos * left[n] - left[n - 1]));
            if (miss > check.worstMiss) {
                check.worstMiss = miss;
                check.worstAt = n + 1;
            }
        }
    }
    std::printf("tone from frame %zu (%.3f s), %zu frames; peak %d; worst recurrence miss %.2f at frame %zu; "
                "left/right mismatches %zu\n",
                check.start, double(check.start) / EXPECTED_RATE, check.frames, check.peak, check.worstMiss,
                check.worstAt, check.channelMismatches);
    if (check.worstMiss > CONTINUITY_TOLERANCE) {
        // Silence inside the tone points at the player running dry, anything
        // else at the capture path.
        size_t zeros = 0;
        size_t longestZeroRun = 0;
        size_t run = 0;
        for (size_t n = check.start; n < left.size(); ++n) {
            run = left[n] == 0 ? run + 1 : 0;
            zeros += left[n] == 0;
            longestZeroRun = std::max(longestZeroRun, run);
        }
        std::printf("zero samples in the tone: %zu, longest run %zu; around the worst miss:", zeros, longestZeroRun);
        for (size_t n = check.worstAt > 6 ? check.worstAt - 6 : 0; n < std::min(left.size(), check.worstAt + 6); ++n)
            std::printf(" %d", left[n]);
        std::printf("\n");
    }
    return check;
}

void splitChannels(const std::vector<int16_t>& samples, std::vector<int16_t>& left, std::vector<int16_t>& right) {
    const size_t frames = samples.size() / 2;
    left.resize(frames);
    right.resize(frames);
    for (size_t i = 0; i < frames; ++i) {
        left[i] = samples[2 * i];
        right[i] = samples[2 * i + 1];
    }
}

// STARTED, the updates of the take, DONE. The spectrum worker also posts
// updates, and may do so until the recording thread has joined it, which
// happens after DONE. Returns the number of updates before DONE.
size_t checkTakePosts(const std::vector<RecordingWindow::Post>& posts) {
    std::printf("posts: %s\n", describe(posts).c_str());
    if (posts.empty() || posts.front().message != WM_APP_RECORDING_STARTED) {
        ADD_FAILURE() << "first post is not RECORDING_STARTED: " << describe(posts);
        return 0;
    }
    size_t doneCount = 0;
    size_t updatesBeforeDone = 0;
    for (size_t i = 1; i < posts.size(); ++i) {
        if (posts[i].message == WM_APP_RECORDING_DONE) {
            ++doneCount;
        } else {
            EXPECT_EQ(posts[i].message, WM_APP_UPDATE_VISUALS) << "post " << i << ": " << describe(posts);
            if (doneCount == 0) ++updatesBeforeDone;
        }
    }
    EXPECT_EQ(doneCount, 1u) << describe(posts);
    return updatesBeforeDone;
}

// A canonical 44-byte header of a 16-bit stereo take at the expected rate.
void checkStereoHeader(const WavFile& wav) {
    std::printf("header: tag %u, %u channels, %u Hz, %u bits, block %u, %u bytes/s, RIFF size %u, data %u bytes, "
                "file %llu bytes\n",
                wav.formatTag, wav.channels, unsigned(wav.sampleRate), wav.bitsPerSample, wav.blockAlign,
                unsigned(wav.byteRate), unsigned(wav.riffSize), unsigned(wav.dataSize),
                static_cast<unsigned long long>(wav.fileSize));
    EXPECT_EQ(wav.formatTag, 1);
    EXPECT_EQ(wav.channels, 2);
    EXPECT_EQ(wav.sampleRate, uint32_t(EXPECTED_RATE));
    EXPECT_EQ(wav.bitsPerSample, 16);
    EXPECT_EQ(wav.blockAlign, 4);
    EXPECT_EQ(wav.byteRate, uint32_t(EXPECTED_RATE * 4));
    EXPECT_EQ(wav.riffSize, wav.dataSize + 36);
    EXPECT_EQ(wav.fileSize, uint64_t(wav.dataSize) + 44);
    EXPECT_EQ(wav.dataSize % 4, 0u);
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
                format->wFormatTag, format->nChannels, unsigned(format->nSamplesPerSec), format->wBitsPerSample,
                format->nBlockAlign, unsigned(format->nAvgBytesPerSec), format->cbSize);
    if (format->wFormatTag == WAVE_FORMAT_EXTENSIBLE) {
        const auto* extensible = reinterpret_cast<const WaveFormatExtensible*>(format);
        const FormatGuid& sub = extensible->SubFormat;
        std::printf(", valid bits %u, channel mask 0x%X, sub-format {%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
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

    RecordingWindow window;
    resetSharedState(&window);
    const auto path = takePath("quorvel_wasapi_tone.wav");
    std::filesystem::remove(path);

    isRecording = true;
    std::thread recorder(recordAudioToWav, path.wstring(), &window, makeWasapiCaptureSource());
    std::this_thread::sleep_for(TAKE_LENGTH);
    const auto stopTime = Clock::now();
    isRecording = false;
    recorder.join();
    EXPECT_FALSE(recordingThreadActive);
    const float workerHz = dominantFreqHz;

    const auto posts = window.posts();
    ASSERT_GT(checkTakePosts(posts), 0u);
    EXPECT_EQ(window.errorBoxCount(), 0u);

    const WavFile wav = readWav(path);
    ASSERT_TRUE(wav.valid) << wav.problem;
    checkStereoHeader(wav);

    // The take holds what the stream delivered between its start (just before
    // STARTED) and the stop; the engine's period and the last poll make up
    // the difference.
    auto sinceStarted = [&](Clock::time_point t) {
        return std::chrono::duration<double>(t - posts.front().when).count();
    };
    const double streamed = sinceStarted(stopTime);
    const size_t frames = wav.samples.size() / 2;
    const double recorded = double(frames) / EXPECTED_RATE;
    std::printf("recorded %zu frames = %.3f s; stop %.3f s after STARTED, first update after %.3f s\n", frames,
                recorded, streamed, sinceStarted(posts[1].when));
    EXPECT_NEAR(recorded, streamed, 0.25);

    std::vector<int16_t> left;
    std::vector<int16_t> right;
    splitChannels(wav.samples, left, right);
    const ToneCheck tone = checkTone(left, right, toneHz);
    ASSERT_GT(tone.frames, size_t(EXPECTED_RATE / 2)) << "less than 0.5 s of tone";
    EXPECT_LE(tone.worstMiss, CONTINUITY_TOLERANCE) << "discontinuity at frame " << tone.worstAt;
    EXPECT_EQ(tone.channelMismatches, 0u);
    EXPECT_NEAR(tone.peak, TONE_AMPLITUDE, 0.02 * TONE_AMPLITUDE);
    const size_t toneFrames = tone.frames;

    // The core's own analysis of the newest left samples of the tone.
    const size_t analysed = std::min(toneFrames, FFT_SIZE);
    dominantFreqHz = 0.0f;
    processFFT(left.data() + (frames - analysed), analysed, int32_t(EXPECTED_RATE));
    const float detectedHz = dominantFreqHz;
    std::printf("dominant frequency: %.2f Hz over %zu samples (worker during the take: %.2f Hz)\n", detectedHz,
                analysed, workerHz);
    // One bin is 48000 / 65536 = 0.73 Hz; a shorter block is padded and coarser.
    const double binHz = double(EXPECTED_RATE) / double(analysed);
    EXPECT_NEAR(detectedHz, toneHz, std::max(2.0, 2.0 * binHz));

    std::filesystem::remove(path);
}

TEST(WasapiCaptureNoServer, SetupFailsCleanly) {
    if (std::getenv("QUORVEL_EXPECT_NO_SERVER") == nullptr) GTEST_SKIP() << "a sound server may be reachable";

    RecordingWindow window;
    resetSharedState(&window);
    const auto path = takePath("quorvel_wasapi_no_server.wav");
    std::filesystem::remove(path);

    isRecording = true;
    std::thread recorder(recordAudioToWav, path.wstring(), &window, makeWasapiCaptureSource());
    recorder.join();
    isRecording = false;

    const auto posts = window.posts();
    std::printf("posts: %s\n", describe(posts).c_str());
    ASSERT_EQ(posts.size(), 1u) << describe(posts);
    EXPECT_EQ(posts.front().message, WM_APP_RECORDING_FAILED) << describe(posts);
    EXPECT_EQ(lastTakeOutcome.load(), TakeOutcome::DeviceFailed);
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_FALSE(recordingThreadActive);
    EXPECT_EQ(window.errorBoxCount(), 0u);
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
    const std::filesystem::path signalPath(killSignal);

    RecordingWindow window;
    resetSharedState(&window);
    const auto path = takePath("quorvel_wasapi_vanish.wav");
    std::filesystem::remove(path);

    isRecording = true;
    std::thread recorder(recordAudioToWav, path.wstring(), &window, makeWasapiCaptureSource());
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    const auto killTime = Clock::now();
    std::ofstream(signalPath) << "now\n";
    // The script kills the server within a poll of seeing the file; the take
    // then goes on for a while without it before Stop.
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    const auto postsBeforeStop = window.posts();
    const bool doneBeforeStop = std::any_of(postsBeforeStop.begin(), postsBeforeStop.end(),
                                            [](const auto& post) { return post.message == WM_APP_RECORDING_DONE; });
    isRecording = false;
    recorder.join();
    EXPECT_FALSE(recordingThreadActive);
    std::printf("the take %s before Stop\n", doneBeforeStop ? "ended by itself" : "was still running");

    const auto posts = window.posts();
    ASSERT_GT(checkTakePosts(posts), 0u);
    EXPECT_EQ(window.errorBoxCount(), 0u);
    const WavFile wav = readWav(path);
    ASSERT_TRUE(wav.valid) << wav.problem;
    checkStereoHeader(wav);

    const double beforeKill = std::chrono::duration<double>(killTime - posts.front().when).count();
    const double recorded = double(wav.samples.size() / 2) / EXPECTED_RATE;
    std::printf("recorded %.3f s; the server was told to go %.3f s after STARTED\n", recorded, beforeKill);
    EXPECT_GT(recorded, beforeKill - 0.25);

    std::vector<int16_t> left;
    std::vector<int16_t> right;
    splitChannels(wav.samples, left, right);
    // Whatever the server delivered up to its end, and nothing after it.
    const ToneCheck tone = checkTone(left, right, toneHz);
    ASSERT_GT(tone.frames, size_t(EXPECTED_RATE / 2)) << "less than 0.5 s of tone";
    EXPECT_LE(tone.worstMiss, CONTINUITY_TOLERANCE) << "discontinuity at frame " << tone.worstAt;
    EXPECT_EQ(tone.channelMismatches, 0u);

    std::filesystem::remove(path);
    std::filesystem::remove(signalPath);
}

}  // namespace
