// Whole files in one call on the calling thread, for tests, fuzz targets and benchmarks: the
// program itself reads, encodes and decodes in runs spread over its threads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "ncw/NcwFormat.h"
#include "ncw/NcwReader.h"
#include "ncw/NcwWriter.h"
#include "platform/FileStream.h"
#include "wav/WavReader.h"

namespace tarvix {

// The whole NCW file of the PCM frames at `position` of `pcm`, written to `sink` one run after
// another; returns its header.
TNcwHeader EncodeNcw(const TNcwStream& stream, const TByteSource& pcm, uint64_t position,
                     TByteSink& sink, uint64_t maxFileBytes = kMaxNcwFileBytes);

// Opens `ncw` on a copy of `bytes`, which it keeps; `name` is used in messages.
void OpenNcwBytes(TNcwReader& ncw, std::span<const uint8_t> bytes, const std::string& name);

// Decodes every block of `ncw` into `out` at `position`, one run after another (the frames
// after the blocks, up to NumSamples, are not written).
void DecodeNcw(const TNcwReader& ncw, TByteSink& out, uint64_t position);

// Reads the data chunk's bytes of `wav` into `dest`, at most `destSize` of them.
void ReadWavData(const TWavReader& wav, uint8_t* dest, size_t destSize);

}  // namespace tarvix
