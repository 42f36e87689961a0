// Implemented features:
// - the sample type of a mix format, from its tag or sub-format, its
//   container size (wBitsPerSample), its valid bits and its block alignment
#include "mix_format.h"

#include <ks.h>
#include <ksmedia.h>

namespace {

enum class Encoding { Pcm, Float, Other };

struct SampleKind {
    Encoding encoding;
    uint16_t containerBits;
    SampleType type;
};

// Float is tried first, as the engine's own mix format usually is.
constexpr SampleKind SAMPLE_KINDS[] = {
    {Encoding::Float, 32, SampleType::Float32}, {Encoding::Float, 64, SampleType::Float64},
    {Encoding::Pcm, 16, SampleType::Int16},     {Encoding::Pcm, 24, SampleType::Int24},
    {Encoding::Pcm, 32, SampleType::Int32},
};

// Bytes the extensible form carries after the head.
constexpr WORD EXTENSION_BYTES = sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX);

// Null unless the record is the extensible form and long enough to be one.
const WAVEFORMATEXTENSIBLE* extensibleOf(const WAVEFORMATEX& format) {
    if (format.wFormatTag != WAVE_FORMAT_EXTENSIBLE || format.cbSize < EXTENSION_BYTES) return nullptr;
    return reinterpret_cast<const WAVEFORMATEXTENSIBLE*>(&format);
}

Encoding encodingOf(const WAVEFORMATEX& format) {
    if (format.wFormatTag == WAVE_FORMAT_PCM) return Encoding::Pcm;
    if (format.wFormatTag == WAVE_FORMAT_IEEE_FLOAT) return Encoding::Float;
    const WAVEFORMATEXTENSIBLE* extensible = extensibleOf(format);
    if (extensible == nullptr) return Encoding::Other;
    if (IsEqualGUID(extensible->SubFormat, KSDATAFORMAT_SUBTYPE_PCM)) return Encoding::Pcm;
    if (IsEqualGUID(extensible->SubFormat, KSDATAFORMAT_SUBTYPE_IEEE_FLOAT)) return Encoding::Float;
    return Encoding::Other;
}

// Bits of precision in each container; the plain form has no field for it.
WORD validBitsOf(const WAVEFORMATEX& format) {
    const WAVEFORMATEXTENSIBLE* extensible = extensibleOf(format);
    return extensible != nullptr ? extensible->Samples.wValidBitsPerSample : format.wBitsPerSample;
}

}  // namespace

std::optional<StreamFormat> streamFormatOf(const WAVEFORMATEX& mixFormat) {
    const Encoding encoding = encodingOf(mixFormat);
    const WORD validBits = validBitsOf(mixFormat);
    for (const SampleKind& kind : SAMPLE_KINDS) {
        if (kind.encoding != encoding || kind.containerBits != mixFormat.wBitsPerSample) continue;
        // Integer samples with fewer valid bits than their container hold
        // them in its upper bits (24 in 32 is common), so reading the whole
        // container gives the right scale; a float fills its container.
        const bool precisionFits = encoding == Encoding::Float
                                       ? validBits == kind.containerBits
                                       : validBits != 0 && validBits <= kind.containerBits;
        // The core steps through a packet by channels x container bytes.
        const bool framesPacked = mixFormat.nBlockAlign == mixFormat.nChannels * kind.containerBits / 8;
        if (!precisionFits || !framesPacked) return std::nullopt;
        return StreamFormat{static_cast<uint32_t>(mixFormat.nSamplesPerSec), mixFormat.nChannels, kind.type};
    }
    return std::nullopt;
}
