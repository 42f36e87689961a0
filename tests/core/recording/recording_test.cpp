#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include "app/commands.h"
#include "base/thread_start.h"
#include "fake_capture_source.h"
#include "fake_window.h"
#include "recording/live_feed.h"
#include "recording/recording_thread.h"
#include "recording/sample_conversion.h"
#include "failing_disk.h"
#include "recording/take_file.h"
#include "recording/wav_writer.h"
#include "shared_state_reset.h"
#include "spectrum/spectrum_worker.h"

using Posts = std::vector<uint32_t>;

namespace {

// Records a take on this thread into `path` (relative: the build folder), as
// the window thread would start it; what it posted.
Posts record(FakeDevice& device, const wchar_t* path = L"take.wav", uint64_t limit = MAX_TAKE_SAMPLES,
             Take&& take = Take(), FakeWindow&& window = FakeWindow()) {
    isRecording = recordingThreadActive = true;
    recordTake(path, &window, device.factory(), limit, take);
    return window.takePosted();
}

// Blocks of four samples, with the sizes asked for written down; the third and later fail.
std::vector<size_t> blockRequests;
TakeBlock smallBlock(size_t samples) {
    blockRequests.push_back(samples);
    if (blockRequests.size() > 2) throw std::bad_alloc();
    return allocateTakeBlock(samples);
}

std::string fileBytes(const char* path = "take.wav") {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// What a take must leave: the header (checked byte for byte below), then the samples.
std::string takeFile(int channels, const std::vector<int16_t>& samples, int32_t rate = 48000) {
    std::ostringstream header;
    writeWavHeader(header, rate, 16, channels, samples.size() * sizeof(int16_t));
    return header.str() + std::string(reinterpret_cast<const char*>(samples.data()), samples.size() * 2);
}

// Every take's file through the platform's own files, on a disk that can fail.
const bool onFailingDisk = (openOutputFile = openOnFailingDisk, true);

TEST(Take, EveryPacketReachesTheFileInWholeFramesUntilTheTakeCannotGrow) {
    const FakePacket mix = packetOf<float>({0.5f, -0.5f, 0.25f, -0.25f});
    struct Case {
        uint16_t channels;
        std::vector<FakePacket> packets;
        uint64_t limit;
        TakeBlockAllocator blocks;
        std::vector<int16_t> kept;
        TakeOutcome outcome;
        uint32_t gaps;
    };
    const FakePacket quad = packetOf<float>({0.5f, 0.25f, 0.7f, 1}, false, true);
    const FakePacket silentQuad = packetOf<float>({0.5f, 0.25f, 0.7f, 1}, true, true);
    // clang-format off
    const Case cases[] = {
        {2, {packetOf<float>({0.5f, -0.25f, 1.5f, -2.0f}), packetOf<float>({NAN, -1.0f})}, MAX_TAKE_SAMPLES,
         allocateTakeBlock, {16383, -8191, 32767, -32767, 0, -32767}, TakeOutcome::Saved, 0},
        // Four channels keep the first two; a silent packet is zeros whatever it holds; a gap
        // flagged on the first packet of a stream is no loss.
        {4, {quad, silentQuad, quad}, MAX_TAKE_SAMPLES, allocateTakeBlock, {16383, 8191, 0, 0, 16383, 8191},
         TakeOutcome::Saved, 2},
        {2, {mix, mix}, 7, allocateTakeBlock, {16383, -16383, 8191, -8191, 16383, -16383}, TakeOutcome::SizeLimit, 0},
        // Blocks of four samples, the third of which cannot be had.
        {2, {mix, mix, mix}, MAX_TAKE_SAMPLES, smallBlock, {16383, -16383, 8191, -8191, 16383, -16383, 8191, -8191},
         TakeOutcome::OutOfMemory, 0}};
    // clang-format on
    for (const Case& c : cases) {
        FakeDevice device;
        device.format.channels = c.channels;
        device.packets.assign(c.packets.begin(), c.packets.end());
        blockRequests.clear();
        const Posts posts = record(device, L"take.wav", c.limit, Take(4, c.blocks));
        // However often the views were told, the last news before the end reaches them.
        EXPECT_EQ(posts.front(), WM_APP_RECORDING_STARTED);
        EXPECT_EQ(Posts(posts.end() - 2, posts.end()), (Posts{WM_APP_UPDATE_VISUALS, WM_APP_RECORDING_DONE}));
        EXPECT_EQ(fileBytes(), takeFile(2, c.kept)) << c.channels;
        EXPECT_EQ(lastTakeOutcome, c.outcome);
        EXPECT_EQ(inputGaps, c.gaps);
        EXPECT_EQ(device.calls, "open stop gone");
        EXPECT_EQ(device.released.size(), c.packets.size());  // every packet handed back whole, kept or not
    }
    const std::string header(
        "RIFF\x34\0\0\0WAVEfmt \x10\0\0\0\x01\0\x02\0\x80\xBB\0\0\0\xEE\x02\0\x04\0\x10\0data\x10\0\0\0", 44);
    EXPECT_EQ(fileBytes().substr(0, 44), header);
}

TEST(Take, TheFileGrowsWithTheTakeAndWhatAFailedWriteLeftIsKeptUntilTheTakeIsSafe) {
    std::filesystem::create_directories("failing");
    const std::wstring disk = L"failing/take.wav";
    const std::vector<int16_t> first{1000, 0};
    struct Case {
        uint64_t room;  // bytes the file takes before the disk refuses
        FileError failure;
        std::deque<bool> answers;         // to "Save it somewhere else?" and "Discard the take?"
        std::deque<std::wstring> places;  // "" cancels the dialog
        std::vector<int16_t> kept;        // what the file holds while the user is asked
        std::wstring status;              // while the take went on
    };
    const std::wstring full = L"Recording... could not write failing/take.wav: the take is kept in memory";
    const std::wstring part = L", failing/take.wav keeps its first 0.0 s";
    // clang-format off
    const Case cases[] = {
        {UINT64_MAX, FileError::None, {}, {}, {}, L""},
        {50, FileError::DiskFull, {true}, {L"saved.wav"}, first, full + part},
        // The take's own file again, after the user made room.
        {50, FileError::TooLarge, {true}, {disk}, first, L"Recording... failing/take.wav reached the largest file "
         L"its drive can hold: the take is kept in memory" + part},
        // A cancelled dialog asks again, and a file that cannot be opened is left as it was.
        {0, FileError::DiskFull, {true, true, true}, {L"", L"failing/read-only.wav", L"saved.wav"}, {}, full},
        {50, FileError::DiskFull, {false, true}, {}, first, full + part},  // discarded once the user confirms it
    };
    // clang-format on
    for (const Case& c : cases) {
        std::filesystem::remove("saved.wav");
        std::ofstream("failing/read-only.wav") << "the user's";
        failingDisk = {"failing", c.room, c.failure, ""};
        FakeDevice device;
        device.format.sampleType = SampleType::Int16;
        // Three bursts a little more than a second apart: the file is brought up to date between them
        // (a disk full from the start has nothing to wait for).
        std::vector<int16_t> samples;
        for (const double pause : {0.0, 1.1, 1.1}) {
            const auto value = static_cast<int16_t>(1000 * (samples.size() / 2 + 1));
            device.packets.push_back(after(c.room ? pause : 0, packetOf<int16_t>({value, 0})));
            samples.insert(samples.end(), {value, 0});
        }
        FakeWindow window;
        window.yesNoAnswers = c.answers;
        window.dialogAnswers = c.places;
        savePath = disk;
        Take take;
        isRecording = recordingThreadActive = true;
        std::thread thread([&] { recordTake(disk, &window, device.factory(), MAX_TAKE_SAMPLES, take); });
        const Posts posts = window.takePosted(c.answers.empty() ? WM_APP_RECORDING_DONE : WM_APP_SAVE_FAILED);
        if (!c.answers.empty()) {
            EXPECT_TRUE(std::count(posts.begin(), posts.end(), WM_APP_WRITE_FAILED));
            onAppMessage(window, WM_APP_WRITE_FAILED);
            EXPECT_EQ(window.status, c.status);
            EXPECT_EQ(fileBytes("failing/take.wav"), c.room ? takeFile(2, c.kept) : "");
            failingDisk.room = UINT64_MAX;  // room is made
            // The window asks, as the user answers, until the take is saved or let go.
            for (Posts p = posts; !std::count(p.begin(), p.end(), WM_APP_RECORDING_DONE);
                 p = window.takePosted(WM_APP_RECORDING_DONE))
                if (std::count(p.begin(), p.end(), WM_APP_SAVE_FAILED))
                    onAppMessage(window, WM_APP_SAVE_FAILED);
        }
        thread.join();
        EXPECT_EQ(failingDisk.faults, "");
        EXPECT_EQ(fileBytes("failing/read-only.wav"), "the user's");
        const bool kept = c.answers.empty() || c.answers.front();
        const std::wstring savedTo = c.places.empty() ? disk : c.places.back();
        EXPECT_EQ(take.empty(), !kept);
        EXPECT_EQ(fileBytes(ws2s(savedTo).c_str()), kept ? takeFile(2, samples) : "");
        // What was left of the take's own file goes once the whole take is safe elsewhere, or let go.
        EXPECT_EQ(std::filesystem::exists("failing/take.wav"), kept && savedTo == disk);
        EXPECT_EQ(takeEndStatus(), kept ? L"Saved to: " + savedTo : L"Take discarded: nothing saved");
    }
}

// The largest single allocation the tracked thread made (the recording
// thread's work, not the spectrum worker's).
std::atomic<std::thread::id> trackedThread;
std::atomic<size_t> largestAllocation{0};

TEST(Take, AHoleTheServerSkippedIsOneGapOfSilenceThatCostsATenthOfASecondOfMemoryAtATime) {
    FakeDevice device;
    FakePacket hole;
    hole.hole = 30 * 48000;
    device.packets = {packetOf<float>({0.5f, -0.5f}), hole, packetOf<float>({0.25f, 0.25f})};
    trackedThread = std::this_thread::get_id();
    record(device, L"take.wav", MAX_TAKE_SAMPLES, Take(9600));
    trackedThread = std::thread::id();
    EXPECT_LT(largestAllocation, 48000 * 2 * sizeof(int16_t));  // well under a second of the take
    EXPECT_EQ(inputGaps, 1u);
    std::vector<int16_t> samples(2 + 30 * 48000 * 2 + 2);
    samples.front() = 16383, samples[1] = -16383, samples[samples.size() - 2] = samples.back() = 8191;
    EXPECT_EQ(fileBytes(), takeFile(2, samples));
}

TEST(Take, EverySampleTypeIsConvertedAtItsExtremesAndChannelsFollowTheTake) {
    // Full scale, one step above silence, negative full scale.
    const std::tuple<SampleType, std::vector<uint8_t>, std::vector<int16_t>> cases[] = {
        {SampleType::Int16, {0xFF, 0x7F, 0x01, 0x00, 0x00, 0x80}, {32767, 1, -32768}},
        {SampleType::Int24, {0xFF, 0xFF, 0x7F, 0x01, 0x00, 0x00, 0x00, 0x00, 0x80}, {32766, 0, -32767}},
        {SampleType::Int32,
         {0xFF, 0xFF, 0xFF, 0x7F, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x80},
         {32766, 0, -32767}},
        {SampleType::Float32, packetOf<float>({1.0f, 1.0f / 32767, -1.0f}).bytes, {32767, 1, -32767}},
        {SampleType::Float64, packetOf<double>({1.0, 1.0 / 32767, -1.0}).bytes, {32767, 1, -32767}},
    };
    for (const auto& [type, bytes, expected] : cases) {
        std::vector<int16_t> samples;
        Take take;
        convertPacket({48000, 1, type}, 1, bytes.data(), 3, false, samples, take);
        EXPECT_EQ(samples, expected) << static_cast<int>(type);
    }
    // A stereo take from a mono stream has the sample on both sides; a mono
    // take from six channels keeps the first; a silent packet is zeros.
    const auto six = packetOf<int16_t>({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}).bytes;
    const std::tuple<uint16_t, int, bool, std::vector<int16_t>> layouts[] = {{1, 2, false, {1, 1, 2, 2}},
                                                                             {6, 1, false, {1, 7}},
                                                                             {6, 2, false, {1, 2, 7, 8}},
                                                                             {6, 2, true, {0, 0, 0, 0}}};
    for (const auto& [streamChannels, takeChannels, silent, expected] : layouts) {
        std::vector<int16_t> samples;
        Take take;
        convertPacket({48000, streamChannels, SampleType::Int16}, takeChannels, six.data(), 2, silent,
                      samples, take);
        EXPECT_EQ(samples, expected) << streamChannels << " to " << takeChannels;
        EXPECT_EQ(take.size(), expected.size());
    }
}

TEST(Take, ALostDeviceIsOpenedAgainAndTheTimeWithoutItIsSilence) {
    const StreamFormat mono{48000, 1, SampleType::Float32};
    const CaptureDevice builtIn{"built-in", L"Built-in Microphone", false},
        speakers{"out", L"Monitor of Speakers", true};
    const std::wstring lost =
        L"Saved to: take.wav (the audio device \"Fake Microphone\" was lost: recording stopped";
    struct Case {
        std::deque<OpenResult> reopens;  // what the device answers after it was lost
        OpenResult later;                // and after those
        std::deque<StreamFormat> back;   // the stream format of each device that opens again
        std::deque<CaptureDevice> devices;
        bool stopWhileAway;
        double silentSeconds;  // at least
        std::vector<int16_t> after;
        std::wstring status;
        double quietBeforeLoss = 0;  // the device's last packet came this long before the loss was seen
    };
    const Case cases[] = {
        // Another device comes back: the take goes on from it and says so.
        {{OpenResult::Failed, OpenResult::Failed},
         OpenResult::Opened,
         {mono},
         {builtIn},
         false,
         0.9,
         {8191, 8191},
         L"Saved to: take.wav (now from Built-in Microphone: the Fake Microphone went away; 1 gap in the "
         L"input)"},
        {{},
         OpenResult::Opened,
         {{44100, 2, SampleType::Float32}},
         {},
         false,
         0,
         {},
         L"Saved to: take.wav (the audio device changed its sample rate: recording stopped)"},
        // Only the speakers' monitor is left: no microphone; the last refusal is the one told.
        {{OpenResult::Opened, OpenResult::AccessDenied},
         OpenResult::Failed,
         {mono},
         {speakers},
         false,
         0,
         {},
         lost +
             L"; Windows does not allow this program to use the microphone (Settings > Privacy & security > "
             L"Microphone))"},
        {{}, OpenResult::Failed, {mono}, {}, true, 0, {}, lost + L")"},
        // The loss was seen late: the silence covers the time since the last packet too.
        {{},
         OpenResult::Opened,
         {mono},
         {builtIn},
         false,
         0.3,
         {8191, 8191},
         L"Saved to: take.wav (now from Built-in Microphone: the Fake Microphone went away; 1 gap in the "
         L"input)",
         0.3},
    };
    for (const Case& c : cases) {
        FakeDevice device;
        device.packets = {packetOf<float>({0.5f, -0.5f}), after(c.quietBeforeLoss, DEVICE_LOST),
                          packetOf<float>({0.25f})};
        device.opens = c.reopens;
        device.opens.push_front(OpenResult::Opened);
        device.later = c.later;
        device.reopened = c.back;
        device.reopenedAs = c.devices;
        FakeWindow window;
        Take take;
        savePath = L"take.wav";
        isRecording = recordingThreadActive = true;
        const auto began = std::chrono::steady_clock::now();
        std::thread thread(
            [&] { recordTake(L"take.wav", &window, device.factory(), MAX_TAKE_SAMPLES, take); });
        const Posts posts = window.takePosted(WM_APP_RECONNECTING);
        if (c.stopWhileAway) isRecording = false;
        if (!std::count(posts.begin(), posts.end(), WM_APP_RECORDING_DONE))
            window.takePosted(WM_APP_RECORDING_DONE);
        thread.join();
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
        // The samples before, the silence, the samples after.
        const std::string file = fileBytes();
        std::vector<int16_t> samples = {16383, -16383};
        ASSERT_GE(file.size(), takeFile(2, samples).size() + c.after.size() * 2);
        const size_t silence = (file.size() - 44) / 2 - samples.size() - c.after.size();
        samples.resize(samples.size() + silence);
        samples.insert(samples.end(), c.after.begin(), c.after.end());
        EXPECT_EQ(file, takeFile(2, samples));
        EXPECT_GE(silence, static_cast<size_t>(c.silentSeconds * 48000 * 2));
        EXPECT_LE(silence, static_cast<size_t>(seconds * 48000 * 2));  // never more than the time away
        EXPECT_TRUE(c.silentSeconds > 0 || silence == 0) << silence;   // nothing after Stop or the end
        EXPECT_EQ(takeEndStatus(), c.status);
        EXPECT_LT(seconds, c.stopWhileAway ? 2 : 12);  // Stop ends the wait at once
        EXPECT_EQ(device.calls.find("misuse"), std::string::npos) << device.calls;
    }
}

TEST(Take, ARefusalIsReportedBeforeTheEndOfTakeAndLeavesAnEarlierFileAlone) {
    // The window joins this thread on the end-of-take message: a box after it would freeze the window.
    FakeDevice unwritable;
    EXPECT_EQ(record(unwritable, L"no-such-folder/take.wav"), (Posts{ERROR_BOX, WM_APP_RECORDING_DONE}));
    std::ofstream("take.wav") << "an earlier take";
    for (const bool noThread : {false, true}) {  // the device refuses, or the system the spectrum worker
        FakeDevice device;
        if (!noThread) device.opens = {OpenResult::DeviceInUse};
        threadStartRefused = noThread ? +[] { return true; } : nullptr;
        const Posts refused =
            noThread ? Posts{ERROR_BOX, WM_APP_RECORDING_FAILED} : Posts{WM_APP_RECORDING_FAILED};
        EXPECT_EQ(record(device), refused);
        EXPECT_EQ(device.calls, "open gone");
        EXPECT_EQ(fileBytes(), "an earlier take");
    }
    threadStartRefused = nullptr;
    // Names outside the Basic Multilingual Plane reach the file system whole.
    EXPECT_EQ(ws2s(L"Take \U0001F3A4 \u00E4.wav"), "Take \xF0\x9F\x8E\xA4 \xC3\xA4.wav");
}

TEST(LiveFeed, LevelHistoryAndTheNewestBlockForTheSpectrumEvery200Ms) {
    using std::chrono::milliseconds;
    resetSharedState();
    const auto t0 = lastFFT;
    restartLevelReading();
    globalSampleRate = 300;                                    // the meter reads 3 frames or more at a time
    feedLiveAnalysis({32767, 0}, 2, t0 + milliseconds(1000));  // due, but short of a block
    feedLiveAnalysis({-32767, 0, 32767, 0}, 2, t0);
    EXPECT_NEAR(currentLevel, 32767.0f / 65536.0f, 1e-6);  // of full scale, averaged over the channels
    feedLiveAnalysis({0, 0}, 2, t0);                       // too short to read alone: a flicker
    feedLiveAnalysis({}, 2, t0);                           // an empty packet leaves the meter as it was
    EXPECT_NEAR(currentLevel, 32767.0f / 65536.0f, 1e-6);
    EXPECT_EQ(waveformBufferL, (std::vector<int16_t>{32767, -32767, 32767, 0}));
    std::vector<int16_t> packet(MAX_WAVEFORM_SIZE);
    for (size_t i = 0; i < packet.size(); ++i) packet[i] = static_cast<int16_t>(i);
    feedLiveAnalysis(packet, 1, t0 + milliseconds(199));
    EXPECT_EQ(waveformBufferL, packet);  // the four oldest went
    EXPECT_TRUE(fftQueue.empty());
    feedLiveAnalysis({-2}, 1, t0 + milliseconds(200));
    ASSERT_EQ(fftQueue.size(), 1u);
    EXPECT_EQ(fftQueue.front().front(), 1);  // the newest samples, oldest first
    EXPECT_EQ(fftQueue.front().back(), -2);
    for (int i = 2; i <= 5; ++i) feedLiveAnalysis({0}, 1, t0 + milliseconds(200 * i));
    EXPECT_EQ(fftQueue.size(), MAX_QUEUED_BLOCKS);
}

}  // namespace

// Replaced for the whole test program; what it allocates, free releases.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(size_t size) {
    if (std::this_thread::get_id() == trackedThread && size > largestAllocation) largestAllocation = size;
    if (void* memory = std::malloc(size == 0 ? 1 : size)) return memory;
    throw std::bad_alloc();
}
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, size_t) noexcept { std::free(memory); }
#pragma GCC diagnostic pop
