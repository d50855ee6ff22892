// Helpers to run the NCW encoder and decoder on sample values in memory.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ncw/NcwReader.h"
#include "ncw/NcwWriter.h"
#include "support/Builders.h"

namespace tarvix::test {

// The NCW file the writer makes of `samples` (interleaved); a test may lower the size limit.
// With `header`, the header it made is stored there; `checksums` as -crc.
Bytes EncodeToNcwBytes(int bits, int channels, const std::vector<int64_t>& samples,
                       uint32_t rate = 44100, uint64_t maxFileBytes = kMaxNcwFileBytes,
                       TNcwHeader* header = nullptr, bool checksums = false);

// The samples of an NCW file as any reader that follows the format would decode them: written
// apart from the program's reader, from the layout alone, reserved bytes ignored and nothing
// checked. Signed values, interleaved, NumSamples frames.
std::vector<int64_t> DecodeByTheLayoutAlone(const Bytes& ncw);

// Every sample an opened NCW file decodes to, as a WAV file's data holds them (frames that no
// block covers are zeros); empty for a width that is not decoded.
Bytes DecodedSampleBytes(const TNcwReader& ncw);

// Opens NCW bytes from memory and decodes them; returns the samples as signed values.
std::vector<int64_t> DecodeNcwBytes(const Bytes& ncw, TNcwReader* parser = nullptr);

}  // namespace tarvix::test
