// Helpers to run the NCW encoder and decoder on sample values.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ncw/NCWParser3.h"
#include "support/Builders.h"

namespace tarvix::test {

// Fills the sample array of `bits` with `samples` (interleaved) and encodes them.
void EncodeSamples(TNCWParser& ncw, int bits, int channels, const std::vector<int64_t>& samples,
                   uint32_t rate = 44100);

// The bytes SaveToNcw writes for those samples.
Bytes EncodeToNcwBytes(int bits, int channels, const std::vector<int64_t>& samples,
                       uint32_t rate = 44100);

// Opens NCW bytes from memory and decodes them; returns the samples as signed values.
std::vector<int64_t> DecodeNcwBytes(const Bytes& ncw, TNCWParser* parser = nullptr);

}  // namespace tarvix::test
