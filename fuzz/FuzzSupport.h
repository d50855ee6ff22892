// What the fuzz targets share: the harness's size limit and the helpers that apply it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace tarvix::fuzz {

// Inputs whose headers claim more decoded sample bytes than this are skipped. Such files are
// valid (an NCW file may cover its frames with fewer blocks: the rest reads as zeros), so this
// is a limit of the harness, not a finding; it keeps each run fast and far below the fuzzer's
// memory limit. A WAV file's samples never exceed the file.
constexpr uint64_t kMaxClaimedBytes = uint64_t{64} << 20;

// The sample buffer a WAV input asks for when its header parses: nChannels * frames *
// (wBitsPerSample / 8), as the reader's caller allocates it. 0 when the header is refused.
uint64_t ClaimedWavBytes(std::span<const uint8_t> bytes);

// The decoded samples an NCW header asks for: NumSamples * Channels * BitsPerSample / 8, for
// any width (missing header bytes read as zero). 0 without a valid signature.
uint64_t ClaimedNcwBytes(std::span<const uint8_t> bytes);

// True when the bytes, read as a WAV file and as an NCW file, stay within kMaxClaimedBytes.
// The command-line target asks this of every file it writes, whatever its extension.
bool WithinHarnessLimits(std::span<const uint8_t> bytes);

// A descriptor on /dev/null, opened once, for consoles and error reports nobody reads.
int DevNullFd();

// The number of open file descriptors of this process.
int CountOpenFds();

}  // namespace tarvix::fuzz
