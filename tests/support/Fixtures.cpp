#include "support/Fixtures.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <random>

#include "ncw/NcwReader.h"
#include "platform/Errors.h"
#include "support/NcwCodec.h"
#include "support/WholeFiles.h"
#include "wav/WavReader.h"

namespace tarvix::test {

Bytes MakeWavBytes(int bits, int channels, uint32_t rate, size_t frames, unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<int64_t> samples;
  std::vector<int64_t> value(static_cast<size_t>(channels), 0);
  int64_t range = int64_t{1} << (bits - 1);
  for (size_t f = 0; f < frames; ++f) {
    for (int ch = 0; ch < channels; ++ch) {
      int64_t& v = value[static_cast<size_t>(ch)];
      v += (f % 900 == 899) ? static_cast<int64_t>(rng() % range)
                            : static_cast<int64_t>(rng() % 61) - 30;
      v = ((v + range) % (2 * range) + 2 * range) % (2 * range) - range;
      samples.push_back(bits == 8 ? v + 128 : v);  // 8-bit WAV data is unsigned
    }
  }
  TWavImage image;
  image.channels = static_cast<uint16_t>(channels);
  image.sampleRate = rate;
  image.bitsPerSample = static_cast<uint16_t>(bits);
  image.data = SampleBytes(bits, samples);
  return image.Build();
}

std::string WriteWav(const TTempDir& dir, const std::string& relative, int bits, int channels,
                     uint32_t rate, size_t frames, unsigned seed) {
  return dir.WriteFile(relative, MakeWavBytes(bits, channels, rate, frames, seed));
}

Bytes WavSampleBytes(const std::string& path) {
  TWavReader wav;
  try {
    wav.Open(path);
    Bytes data(size_t{wav.FrameCount()} * wav.FrameBytes());
    ReadWavData(wav, data.data(), data.size());
    return data;
  } catch (const TError& error) {
    ADD_FAILURE() << error.Report();
    return {};
  }
}

Bytes NcwSampleBytes(const std::string& path) {
  TNcwReader ncw;
  ncw.Open(path);
  return DecodedSampleBytes(ncw);
}

std::vector<std::string> LeftoverTempFiles(const TTempDir& dir) {
  std::vector<std::string> leftovers;
  for (const std::string& name : dir.List()) {
    if (name.find("tarvix-") != std::string::npos && name.size() > 4 &&
        name.substr(name.size() - 4) == ".tmp") {
      leftovers.push_back(name);
    }
  }
  return leftovers;
}

TProcessResult RunTarvixIn(const TTempDir& dir, const std::vector<std::string>& args,
                           TProcessOptions options) {
  if (options.workingDirectory.empty()) options.workingDirectory = dir.Path();
  TProcessResult result = RunTarvix(args, options);
  EXPECT_EQ(LeftoverTempFiles(dir), std::vector<std::string>{});
  return result;
}

Bytes RoundTripSamples(const TTempDir& dir, const std::string& wavRelative,
                       const std::string& headerFlag) {
  TProcessResult there = RunTarvixIn(dir, {"-rw", wavRelative, "round-trip.ncw"});
  EXPECT_EQ(there.exitCode, 0) << there.out << there.err;
  TProcessResult back = RunTarvixIn(dir, {"-rw", headerFlag, "round-trip.ncw", "round-trip.wav"});
  EXPECT_EQ(back.exitCode, 0) << back.out << back.err;
  if (there.exitCode != 0 || back.exitCode != 0) return {};
  return WavSampleBytes(dir / "round-trip.wav");
}

void OpenForEveryone(const TTempDir& dir) {
  ::chmod(dir.Path().c_str(), 0777);
}

bool PermissionsBindUnprivileged(const TTempDir& dir) {
  const std::string probe = dir.MakeDir(".permission-probe");
  ::chmod(probe.c_str(), 0);
  TProcessOptions options;
  options.workingDirectory = dir.Path();
  options.asUnprivileged = true;
  // 1: the folder may not be read; 0: the bits do not bind; 126: nobody could not be become.
  const int status = RunProcess("/bin/sh", {"-c", "test -r .permission-probe"}, options).exitCode;
  ::rmdir(probe.c_str());
  return status == 1;
}

unsigned PermissionBits(const std::string& path) {
  struct stat info;
  if (::stat(path.c_str(), &info) != 0) return 0;
  return info.st_mode & 07777;
}

}  // namespace tarvix::test
