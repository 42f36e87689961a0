#include <gtest/gtest.h>

#include <cstring>
#include <sstream>

#include "recording/wav_writer.h"

namespace {

std::string headerBytes(int32_t rate, int32_t bits, int32_t channels, uint64_t dataSize) {
    std::ostringstream out(std::ios::binary);
    writeWavHeader(out, rate, bits, channels, dataSize);
    return out.str();
}

template <typename T>
T field(const std::string& bytes, size_t offset) {
    T value;
    std::memcpy(&value, bytes.data() + offset, sizeof(T));
    return value;
}

TEST(WavHeader, StereoHeaderMatchesReferenceBytes) {
    const unsigned char expected[44] = {0x52, 0x49, 0x46, 0x46, 0x2C, 0x00, 0x00, 0x00, 0x57, 0x41, 0x56,
                                        0x45, 0x66, 0x6D, 0x74, 0x20, 0x10, 0x00, 0x00, 0x00, 0x01, 0x00,
                                        0x02, 0x00, 0x80, 0xBB, 0x00, 0x00, 0x00, 0xEE, 0x02, 0x00, 0x04,
                                        0x00, 0x10, 0x00, 0x64, 0x61, 0x74, 0x61, 0x08, 0x00, 0x00, 0x00};
    EXPECT_EQ(headerBytes(48000, 16, 2, 8),
              std::string(reinterpret_cast<const char*>(expected), sizeof(expected)));
}

TEST(WavHeader, DerivedFieldsFollowTheArguments) {
    struct Case {
        int32_t rate, channels;
        uint64_t dataSize;
        uint32_t byteRate;
        uint16_t blockAlign;
        uint32_t riffSize;
    };
    const Case cases[] = {
        {44100, 1, 2000, 88200, 2, 2036},
        {48000, 2, 0, 192000, 4, 36},
        {48000, 2, 4294967258ull, 192000, 4, 4294967294u},
    };
    for (const Case& c : cases) {
        const std::string h = headerBytes(c.rate, 16, c.channels, c.dataSize);
        ASSERT_EQ(h.size(), 44u);
        EXPECT_EQ(field<uint16_t>(h, 22), c.channels);
        EXPECT_EQ(field<uint32_t>(h, 24), static_cast<uint32_t>(c.rate));
        EXPECT_EQ(field<uint32_t>(h, 28), c.byteRate);
        EXPECT_EQ(field<uint16_t>(h, 32), c.blockAlign);
        EXPECT_EQ(field<uint16_t>(h, 34), 16);
        EXPECT_EQ(field<uint32_t>(h, 40), static_cast<uint32_t>(c.dataSize));
        EXPECT_EQ(field<uint32_t>(h, 4), c.riffSize);
    }
}

}  // namespace
