// Real WAV files written by sox, generated at test time, and finding the programs that write them.
#pragma once

#include <string>

namespace tarvix::test {

// The full path of a program on PATH, or "" when there is none.
std::string FindProgram(const std::string& name);

// Writes `name` with sox: `seconds` of a chord of sines with a little noise, in the given
// width, channel count and rate. `type` is "wavpcm" (plain PCM header) or "wav" (sox chooses,
// extensible for 24 bits). False when sox is missing or failed.
bool MakeSoxWav(const std::string& name, int bits, int channels, int rate, double seconds,
                const std::string& type = "wavpcm");

}  // namespace tarvix::test
