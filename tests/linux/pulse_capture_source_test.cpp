// The PulseAudio capture source under the real recording thread, against a
// real server: formats, the captured tone, no lost samples, and the two ways
// a server can fail a take (absent at the start, gone in the middle).
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "app/messages.h"
#include "app/shared_state.h"
#include "child_process.h"
#include "platform/linux/pulse_capture_source.h"
#include "shared_state_reset.h"
#include "threaded_take.h"
#include "wav_analysis.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

// Just off 1 kHz: a 1 kHz period divides the server's 10 ms fragments at
// 48 kHz and 44.1 kHz, so a lost fragment would leave no break in the sine.
constexpr double TONE_HZ = 997.0;
// Rounding to 16 bits leaves a few LSB in the recurrence; one lost sample
// of a half-scale tone near 1 kHz leaves thousands.
constexpr double MAX_RECURRENCE_ERROR = 50.0;

int run(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()); }

// The command's standard output without its trailing newline; empty on failure.
std::string output(const std::string& command) {
    std::string text;
    if (FILE* pipe = popen((command + " 2>/dev/null").c_str(), "r")) {
        char buffer[256];
        while (fgets(buffer, sizeof buffer, pipe) != nullptr) text += buffer;
        if (pclose(pipe) != 0) text.clear();
    }
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    return text;
}

std::string pulseServer() {
    const char* server = std::getenv("PULSE_SERVER");
    return server == nullptr ? std::string() : std::string(server);
}

// Sets an environment variable for the lifetime of the object.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value) : name_(name) {
        const char* old = std::getenv(name);
        had_ = old != nullptr;
        if (had_) old_ = old;
        setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv() {
        if (had_) {
            setenv(name_, old_.c_str(), 1);
        } else {
            unsetenv(name_);
        }
    }

private:
    const char* name_;
    bool had_ = false;
    std::string old_;
};

class TempDir {
public:
    TempDir() {
        std::string pattern = (fs::temp_directory_path() / "quorvel-pulse-test.XXXXXX").string();
        path_ = mkdtemp(pattern.data()) != nullptr ? pattern : std::string();
    }
    ~TempDir() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

// sox writes a half-scale TONE_HZ tone in the sink's own format; pacat plays it.
// pacat's usual 2 s latency would make a null sink render 2 s ahead, so a
// monitor stream connected afterwards would wait that long for its first
// data; 200 ms still covers a busy machine's scheduling delays.
std::string toneCommand(const std::string& sink, const std::string& format, int rate, int channels,
                        int seconds, const std::string& server = {}) {
    const bool isFloat = format == "float32le";
    const std::string soxFormat = isFloat ? "-e float -b 32" : "-e signed -b 16";
    return "sox -D -n -t raw -r " + std::to_string(rate) + " " + soxFormat + " -c " +
           std::to_string(channels) + " - synth " + std::to_string(seconds) + " sine " +
           std::to_string(static_cast<int>(TONE_HZ)) + " vol 0.5 | pacat --latency-msec=200" +
           (server.empty() ? "" : " --server=" + server) + " --device=" + sink + " --format=" + format +
           " --rate=" + std::to_string(rate) + " --channels=" + std::to_string(channels);
}

// The tone must be unbroken from its first loud sample to the end of the take.
void expectUnbrokenTone(const WavContents& wav, const std::string& what) {
    SCOPED_TRACE(what);
    for (int channel = 0; channel < wav.channels; ++channel) {
        const std::vector<double> x = channelOf(wav, channel);
        // A stream may open with a short fade; the tone is judged from 10 ms on.
        const size_t start = firstLoud(x, 1000.0) + wav.sampleRate / 100;
        // The tone plays before the take starts; at most a little silence
        // that was already in the source's buffer may lead it.
        ASSERT_LT(start, wav.sampleRate / 2u) << "channel " << channel;
        ASSERT_GT(x.size(), start + wav.sampleRate / 4) << "channel " << channel;
        EXPECT_NEAR(sineFrequency(x, start, wav.sampleRate), TONE_HZ, 2.0) << "channel " << channel;
        const RecurrenceError error = largestRecurrenceError(x, start, TONE_HZ, wav.sampleRate);
        EXPECT_LT(error.largest, MAX_RECURRENCE_ERROR) << "channel " << channel << ", frame " << error.at
                                                       << " of " << x.size() << ", tone from " << start;
    }
}

class PulseCaptureSourceTest : public testing::Test {
protected:
    void SetUp() override {
        if (pulseServer().empty()) GTEST_SKIP() << "PULSE_SERVER is not set";
        resetSharedState();
    }
    void TearDown() override { resetSharedState(); }
    TempDir dir_;
};

// A null sink loaded into the shared server and made the default source
// (its monitor) for the object's lifetime.
class ScopedNullSink {
public:
    ScopedNullSink(const std::string& name, const std::string& format, int rate, int channels)
        : previousSource_(output("pactl get-default-source")) {
        module_ = output("pactl load-module module-null-sink sink_name=" + name + " format=" + format +
                         " rate=" + std::to_string(rate) + " channels=" + std::to_string(channels));
        ready_ = !module_.empty() && run("pactl set-default-source " + name + ".monitor") == 0;
    }
    ~ScopedNullSink() {
        if (!previousSource_.empty()) run("pactl set-default-source " + previousSource_);
        if (!module_.empty()) run("pactl unload-module " + module_);
    }
    bool ready() const { return ready_; }

private:
    std::string previousSource_;
    std::string module_;
    bool ready_ = false;
};

// A PulseAudio server of the test's own on a private socket, which the test
// may kill without disturbing the shared one.
class PrivateServer {
public:
    // withSink: a float32 stereo 48 kHz null sink whose monitor is the
    // default source; without it the server has no source at all.
    explicit PrivateServer(bool withSink) {
        const fs::path runtime = dir_.path();
        socket_ = "unix:" + (runtime / "native").string();
        std::ofstream script(runtime / "default.pa");
        script << "load-module module-native-protocol-unix auth-anonymous=1 socket="
               << (runtime / "native").string() << "\n";
        if (withSink) {
            script << "load-module module-null-sink sink_name=" << SINK
                   << " format=float32le rate=48000 channels=2\n"
                   << "set-default-source " << SINK << ".monitor\n";
        }
        script.close();
        daemon_ = std::make_unique<ChildProcess>(
            "exec pulseaudio --daemonize=no --system=false -n --exit-idle-time=-1 --disallow-exit -F " +
                (runtime / "default.pa").string() + " --log-target=file:" + (runtime / "pulse.log").string(),
            std::vector<std::string>{"PULSE_RUNTIME_PATH=" + runtime.string(),
                                     "XDG_RUNTIME_DIR=" + runtime.string(),
                                     "PULSE_STATE_PATH=" + (runtime / "state").string()});
        for (int i = 0; i < 100 && !ready_; ++i) {
            ready_ = run("pactl --server=" + socket_ + " info") == 0;
            if (!ready_) std::this_thread::sleep_for(50ms);
        }
    }
    bool ready() const { return ready_; }
    const std::string& server() const { return socket_; }
    void kill() { daemon_->stop(SIGKILL); }

    static constexpr const char* SINK = "quorvel_private_sink";

private:
    TempDir dir_;
    std::string socket_;
    std::unique_ptr<ChildProcess> daemon_;
    bool ready_ = false;
};

struct FormatCase {
    const char* name;
    bool ownSink;        // false: the shared server's default sink as it is
    const char* format;  // the sink's sample format
    int rate;
    int channels;
};

TEST_F(PulseCaptureSourceTest, RecordsAnUnbrokenToneInTheDefaultSourcesFormat) {
    const char* sharedSink = std::getenv("QUORVEL_SINK");
    const FormatCase cases[] = {
        {"float32 stereo 48 kHz", false, "float32le", 48000, 2},
        {"s16 mono 44.1 kHz", true, "s16le", 44100, 1},
    };
    for (const FormatCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string sink = c.ownSink ? "quorvel_mono_test" : (sharedSink ? sharedSink : "quorvel_sink");
        std::unique_ptr<ScopedNullSink> nullSink;
        if (c.ownSink) {
            nullSink = std::make_unique<ScopedNullSink>(sink, c.format, c.rate, c.channels);
            ASSERT_TRUE(nullSink->ready());
        }
        ChildProcess tone(toneCommand(sink, c.format, c.rate, c.channels, 10));
        ASSERT_TRUE(tone.started());
        std::this_thread::sleep_for(500ms);

        const fs::path file = dir_.path() / (sink + ".wav");
        const auto begin = std::chrono::steady_clock::now();
        ThreadedTake take(file, makePulseCaptureSource());
        ASSERT_TRUE(take.window.waitFor(WM_APP_RECORDING_STARTED));
        // A null sink that was idle may render up to 2 s ahead before it
        // notices a new listener, so a take's first data can come late;
        // record until a second of it has arrived.
        ASSERT_TRUE(take.waitForHistory(c.rate, 8s));
        take.finish();
        const double elapsed =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();

        EXPECT_EQ(take.window.lifecyclePosts(),
                  (std::vector<uint32_t>{WM_APP_RECORDING_STARTED, WM_APP_RECORDING_DONE}));
        EXPECT_EQ(lastTakeOutcome.load(), TakeOutcome::Saved);
        const WavContents wav = readWav(file.string());
        ASSERT_TRUE(wav.valid);
        std::printf("%s: %.2f s captured in %.2f s\n", c.name, double(wav.frames()) / c.rate, elapsed);
        EXPECT_EQ(wav.sampleRate, static_cast<uint32_t>(c.rate));
        EXPECT_EQ(wav.channels, c.channels);
        // Never more than the time that passed.
        EXPECT_LE(wav.frames(), static_cast<size_t>((elapsed + 0.1) * c.rate));
        EXPECT_GE(wav.frames(), static_cast<size_t>(c.rate));
        expectUnbrokenTone(wav, c.name);
    }
}

// A take whose device cannot be set up tells the window and leaves no file.
TEST_F(PulseCaptureSourceTest, SetupFailureCreatesNoFile) {
    PrivateServer noSource(false);
    ASSERT_TRUE(noSource.ready());
    const struct {
        const char* name;
        std::string server;
    } cases[] = {
        {"no server at all", "unix:/nonexistent"},
        {"server without any source", noSource.server()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScopedEnv env("PULSE_SERVER", c.server);
        const fs::path file = dir_.path() / "never.wav";
        ThreadedTake take(file, makePulseCaptureSource());
        ASSERT_TRUE(take.window.waitFor(WM_APP_RECORDING_FAILED));
        take.finish();
        EXPECT_EQ(take.window.lifecyclePosts(), std::vector<uint32_t>{WM_APP_RECORDING_FAILED});
        EXPECT_EQ(lastTakeOutcome.load(), TakeOutcome::DeviceFailed);
        EXPECT_TRUE(take.window.errorBoxes().empty());
        EXPECT_FALSE(recordingThreadActive.load());
        EXPECT_FALSE(fs::exists(file));
    }
}

// The server vanishing mid-take ends the take; what was captured is saved.
TEST_F(PulseCaptureSourceTest, ServerGoneMidTakeSavesWhatWasCaptured) {
    PrivateServer server(true);
    ASSERT_TRUE(server.ready());
    ScopedEnv env("PULSE_SERVER", server.server());
    ChildProcess tone(toneCommand(PrivateServer::SINK, "float32le", 48000, 2, 8, server.server()));
    std::this_thread::sleep_for(500ms);

    const fs::path file = dir_.path() / "cut short.wav";
    ThreadedTake take(file, makePulseCaptureSource());
    ASSERT_TRUE(take.window.waitFor(WM_APP_RECORDING_STARTED));
    ASSERT_TRUE(take.waitForHistory(48000 / 2));
    server.kill();
    // Nobody presses Stop: the take must end by itself.
    ASSERT_TRUE(take.window.waitFor(WM_APP_RECORDING_DONE, 5s));
    take.finish();

    EXPECT_EQ(take.window.lifecyclePosts(),
              (std::vector<uint32_t>{WM_APP_RECORDING_STARTED, WM_APP_RECORDING_DONE}));
    EXPECT_EQ(lastTakeOutcome.load(), TakeOutcome::DeviceLost);
    const WavContents wav = readWav(file.string());
    ASSERT_TRUE(wav.valid);
    EXPECT_EQ(wav.sampleRate, 48000u);
    EXPECT_EQ(wav.channels, 2);
    EXPECT_GE(wav.frames(), 48000u / 2);
    expectUnbrokenTone(wav, "until the server went away");
}

}  // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    if (pulseServer().empty()) {
        std::puts("skipped: PULSE_SERVER is not set (run under scripts/with-services.sh)");
        return 77;
    }
    return RUN_ALL_TESTS();
}
