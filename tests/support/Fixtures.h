// Sample files for end-to-end tests and ways to look at what the program wrote.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/Builders.h"
#include "support/ProcessHarness.h"
#include "support/TempDir.h"

namespace tarvix::test {

// A WAV file (standard header) of deterministic samples: a wandering signal with a jump now and
// then, so that both delta and plain blocks occur.
Bytes MakeWavBytes(int bits, int channels, uint32_t rate, size_t frames, unsigned seed = 1);
std::string WriteWav(const TTempDir& dir, const std::string& relative, int bits = 16,
                     int channels = 2, uint32_t rate = 44100, size_t frames = 1500,
                     unsigned seed = 1);

// The sample bytes of a WAV file as the program's reader sees them; fails the test when the
// file is not a valid WAV file.
Bytes WavSampleBytes(const std::string& path);
// The decoded sample bytes of an NCW file.
Bytes NcwSampleBytes(const std::string& path);

// A WAV file below `dir` through the program to NCW and back to WAV (`headerFlag` chooses the
// header kind): the sample bytes that come back. Fails the test when a step fails.
Bytes RoundTripSamples(const TTempDir& dir, const std::string& wavRelative,
                       const std::string& headerFlag = "-wha");

// Temporary files the program may have left below `dir` (none should ever remain).
std::vector<std::string> LeftoverTempFiles(const TTempDir& dir);

// Runs tarvix in `dir` (or in options.workingDirectory when set) and checks that it left no
// temporary file anywhere below `dir`.
TProcessResult RunTarvixIn(const TTempDir& dir, const std::vector<std::string>& args,
                           TProcessOptions options = {});

// Lets a child run as nobody into `dir`: everyone may enter, list and write it.
void OpenForEveryone(const TTempDir& dir);

// True when a child run with asUnprivileged meets permission bits as an ordinary user does (the
// tests run as root and can become nobody, or run as a user the bits bind already). Probes with
// a folder below `dir`, which must be open for everyone.
bool PermissionsBindUnprivileged(const TTempDir& dir);

// File mode bits of a path (permissions only).
unsigned PermissionBits(const std::string& path);

}  // namespace tarvix::test
