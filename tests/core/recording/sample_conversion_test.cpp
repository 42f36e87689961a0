#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "recording/sample_conversion.h"

namespace {

TEST(SampleConversion, FloatToPcm16TruncatesAndClips) {
    const float inf = std::numeric_limits<float>::infinity();
    const struct {
        float in;
        int16_t out;
    } cases[] = {{1.0f, 32767},   {-1.0f, -32767}, {1.5f, 32767},     {-2.0f, -32767}, {0.5f, 16383},
                 {-0.5f, -16383}, {0.25f, 8191},   {0.00001f, 0},     {-0.00001f, 0},  {0.1f, 3276},
                 {inf, 32767},    {-inf, -32767},  {std::nanf(""), 0}};
    for (const auto& c : cases) EXPECT_EQ(floatToPCM16(c.in), c.out) << "input " << c.in;
}

WaveFormatExtensible makeFormat(uint16_t tag, uint16_t bits, const FormatGuid& sub) {
    WaveFormatExtensible f{};
    f.Format.wFormatTag = tag;
    f.Format.wBitsPerSample = bits;
    f.Format.nChannels = 2;
    f.SubFormat = sub;
    return f;
}

TEST(SampleConversion, FormatTestsAcceptOnlyFloat32AndPcm16) {
    const FormatGuid none{};
    const auto& F = KSDATAFORMAT_SUBTYPE_IEEE_FLOAT;
    const auto& P = KSDATAFORMAT_SUBTYPE_PCM;
    const struct {
        uint16_t tag, bits;
        FormatGuid sub;
        bool isFloat, isPcm;
    } cases[] = {
        {1, 16, none, false, true},    {0xFFFE, 16, P, false, true},  {3, 32, none, true, false},
        {0xFFFE, 32, F, true, false},  {1, 24, none, false, false},   {1, 32, none, false, false},
        {3, 64, none, false, false},   {0xFFFE, 24, P, false, false}, {0xFFFE, 32, P, false, false},
        {0xFFFE, 64, F, false, false}, {0xFFFE, 16, F, false, false}, {3, 16, none, false, false},
    };
    for (const auto& c : cases) {
        const WaveFormatExtensible f = makeFormat(c.tag, c.bits, c.sub);
        EXPECT_EQ(isFormatFloat32(&f.Format), c.isFloat) << c.tag << "/" << c.bits;
        EXPECT_EQ(isFormatPCM16(&f.Format), c.isPcm) << c.tag << "/" << c.bits;
    }
}

TEST(SampleConversion, PacketsAppendInOrderAndRefusedFormatsYieldNothing) {
    std::vector<int16_t> take{7};
    std::vector<int16_t> packet;

    const WaveFormatExtensible floatFormat = makeFormat(3, 32, {});
    const float frames[] = {0.5f, -0.5f, 1.0f, -1.0f, 0.0f, 0.25f};
    uint8_t bytes[sizeof(frames) + 1];
    std::memcpy(bytes + 1, frames, sizeof(frames));  // deliberately unaligned
    ASSERT_TRUE(convertPacket(&floatFormat.Format, bytes + 1, 3, packet, take));
    EXPECT_EQ(packet, (std::vector<int16_t>{16383, -16383, 32767, -32767, 0, 8191}));

    const WaveFormatExtensible pcmFormat = makeFormat(1, 16, {});
    const int16_t pcm[] = {-32768, 32767};
    ASSERT_TRUE(convertPacket(&pcmFormat.Format, reinterpret_cast<const uint8_t*>(pcm), 1, packet, take));
    EXPECT_EQ(packet, (std::vector<int16_t>{-32768, 32767}));

    ASSERT_TRUE(convertPacket(&pcmFormat.Format, nullptr, 0, packet, take));
    EXPECT_TRUE(packet.empty());

    const WaveFormatExtensible pcm24 = makeFormat(1, 24, {});
    EXPECT_FALSE(convertPacket(&pcm24.Format, bytes, 1, packet, take));
    EXPECT_TRUE(packet.empty());

    EXPECT_EQ(take, (std::vector<int16_t>{7, 16383, -16383, 32767, -32767, 0, 8191, -32768, 32767}));
}

}  // namespace
