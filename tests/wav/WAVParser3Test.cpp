#include "wav/WAVParser3.h"

#include <gtest/gtest.h>

#include <functional>

#include "platform/Errors.h"
#include "support/Builders.h"
#include "support/TempDir.h"

namespace tarvix {
namespace {

using test::Bytes;
using test::TWavImage;

// Parses bytes through the same reader that reads files.
struct TParsed {
  Bytes bytes;  // the memory the parser reads, alive as long as the parser
  bool ok;
  std::string error;
  TWavParser parser;
};

std::unique_ptr<TParsed> Parse(const Bytes& bytes) {
  auto parsed = std::make_unique<TParsed>();
  parsed->bytes = bytes;
  parsed->parser.OpenSource(std::make_unique<TMemorySource>(parsed->bytes), "memory.wav");
  parsed->ok = parsed->parser.ParseHeader();
  parsed->error = parsed->parser.fErrorText;
  return parsed;
}

TWavImage Stereo16(size_t frames = 10) {
  TWavImage image;
  image.data.assign(frames * 4, 0x11);
  return image;
}

TWavImage Extensible(uint16_t containerBits, uint16_t validBits) {
  TWavImage image;
  image.formatTag = kWaveFormatExtensible;
  image.fmtSize = 40;
  image.bitsPerSample = containerBits;
  image.validBits = validBits;
  image.data.assign(8 * containerBits / 8 * 2, 0x22);
  return image;
}

struct RefusalCase {
  std::string name;
  std::function<void(TWavImage&)> change;
  std::string message;
};

TEST(WavReader, EveryHeaderFaultHasItsMessage) {
  const RefusalCase cases[] = {
      {"not RIFF", [](TWavImage&) {}, "Wrong format or bad file header (RIFF)"},
      {"extra byte after RIFF", [](TWavImage& w) { w.riffSizeAdjust = -1; },
       "Wrong file size or bad header"},
      {"RIFF size too large", [](TWavImage& w) { w.riffSizeAdjust = 1; },
       "Wrong file size or bad header"},
      {"JUNK before fmt",
       [](TWavImage& w) {
         w.chunksBeforeFmt = {{"JUNK", Bytes(4)}};
       },
       "Wrong format or bad file header (fmt )"},
      {"PCM fmt of 18 bytes", [](TWavImage& w) { w.fmtSize = 18; },
       "Wrong format or bad file header (fmt chunk size)"},
      {"byte rate one too high", [](TWavImage& w) { w.avgBytesPerSec = 176401; },
       "Bad file header (AvgBytesPerSec)"},
      {"byte rate checked before bits",
       [](TWavImage& w) {
         w.bitsPerSample = 12;
         w.avgBytesPerSec = 1;
       },
       "Bad file header (AvgBytesPerSec)"},
      {"32-bit PCM", [](TWavImage& w) { w.bitsPerSample = 32; },
       "Wrong bits per sample (8,16 and 24 allowed)"},
      {"6 channels", [](TWavImage& w) { w.channels = 6; }, "Only mono and stereo allowed"},
      {"block align 0", [](TWavImage& w) { w.blockAlign = 0; }, "Bad file header (BlockAlign)"},
      {"block align too large", [](TWavImage& w) { w.blockAlign = 8; },
       "Bad file header (BlockAlign)"},
      {"float format", [](TWavImage& w) { w.formatTag = 3; }, "Non supported WAV format"},
      {"extensible with fmt 18",
       [](TWavImage& w) {
         w.formatTag = kWaveFormatExtensible;
         w.fmtSize = 18;
       },
       "Non supported WAV format"},
      {"extensible cbSize 0",
       [](TWavImage& w) {
         w = Extensible(16, 16);
         w.cbSize = 0;
       },
       "Bad file header (extension chink size)"},
      {"extensible 20 valid bits", [](TWavImage& w) { w = Extensible(24, 20); },
       "Wrong bits per sample (8,16 and 24 allowed)"},
      {"extensible float",
       [](TWavImage& w) {
         w = Extensible(32, 24);
         w.subFormat[0] = 0x03;
       },
       "Non supported format (GUID)"},
      {"extensible block align",
       [](TWavImage& w) {
         w = Extensible(16, 16);
         w.blockAlign = 2;
       },
       "Bad file header (BlockAlign)"},
      {"only a fact chunk",
       [](TWavImage& w) {
         w.hasDataChunk = false;
         w.chunksBeforeData = {{"fact", Bytes(4)}};
       },
       "No data chunk found"},
  };
  for (const RefusalCase& c : cases) {
    SCOPED_TRACE(c.name);
    TWavImage image = Stereo16();
    c.change(image);
    Bytes bytes = image.Build();
    if (c.name == "not RIFF") bytes[0] = 'r';
    auto parsed = Parse(bytes);
    EXPECT_FALSE(parsed->ok);
    EXPECT_EQ(parsed->error, c.message);
    EXPECT_EQ(parsed->error.find('\0'), std::string::npos);  // printed without NULs
  }
}

TEST(WavReader, TruncatedHeadersAreRefusedAtEveryLength) {
  Bytes whole = Stereo16(2).Build();
  for (size_t length = 0; length < 44; ++length) {
    Bytes cut(whole.begin(), whole.begin() + static_cast<long>(length));
    auto parsed = Parse(cut);
    EXPECT_FALSE(parsed->ok) << "length " << length;
  }
}

TEST(WavReader, OpenFailuresAreRecordedAndTheParseSaysFileNotOpened) {
  test::TTempDir dir;
  TWavParser missing;
  EXPECT_FALSE(missing.OpenFile(dir / "missing.wav"));
  EXPECT_EQ(missing.fErrorText, "Can't open file");
  EXPECT_FALSE(missing.ParseHeader());
  EXPECT_EQ(missing.fErrorText, "File not opened");
  TWavParser directory;
  EXPECT_FALSE(directory.OpenFile(dir.Path()));
  EXPECT_EQ(directory.fErrorText, "Error while opening the file");
  Bytes buffer(4);
  EXPECT_FALSE(directory.ReadData(buffer.data(), buffer.size()));
  EXPECT_EQ(directory.fErrorText, "File not opened");
}

TEST(WavReader, CanonicalFileGivesItsStreamDescription) {
  TWavImage image = Stereo16(10);
  image.data.push_back(0x7F);  // a partial frame is dropped from the count
  auto parsed = Parse(image.Build());
  ASSERT_TRUE(parsed->ok) << parsed->error;
  const TWavParser& wav = parsed->parser;
  EXPECT_EQ(wav.fDataOffset, 44u);
  EXPECT_EQ(wav.fDataSize, 41u);
  EXPECT_EQ(wav.fFrameCount, 10u);
  EXPECT_FALSE(wav.fExtensible);
  TStreamDescription stream = wav.StreamDescription();
  EXPECT_EQ(stream.nChannels, 2);
  EXPECT_EQ(stream.nSamplesPerSec, 44100u);
  EXPECT_EQ(stream.wBitsPerSample, 16);
  EXPECT_EQ(stream.fFrameCount, 10u);
}

TEST(WavReader, AcceptedLayouts) {
  struct Case {
    std::string name;
    TWavImage image;
    uint32_t dataOffset;
  };
  TWavImage fmt20 = Stereo16();
  fmt20.fmtSize = 20;
  TWavImage listEven = Stereo16();
  listEven.chunksBeforeData = {{"LIST", Bytes(6, 'x')}, {"fact", Bytes(4)}};
  TWavImage listOddPadded = Stereo16();
  listOddPadded.chunksBeforeData = {{"LIST", Bytes(5, 'x')}};
  TWavImage listOddUnpadded = listOddPadded;
  listOddUnpadded.padOddChunks = false;
  TWavImage dataLast = Stereo16();
  dataLast.trailing = {'L', 'I', 'S', 'T', 1, 0, 0, 0, 9, 0};  // never looked at
  const Case cases[] = {
      {"fmt chunk of 20 bytes", fmt20, 48},
      {"LIST and fact chunks", listEven, 44 + 14 + 12},
      {"odd LIST chunk with its pad byte", listOddPadded, 44 + 14},
      {"odd LIST chunk whose writer left the pad out", listOddUnpadded, 44 + 13},
      {"chunks after the data", dataLast, 44},
      {"extensible 32-bit containers with 24 valid bits", Extensible(32, 24), 68},
      {"extensible 16 bits", Extensible(16, 16), 68},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto parsed = Parse(c.image.Build());
    ASSERT_TRUE(parsed->ok) << parsed->error;
    EXPECT_EQ(parsed->parser.fDataOffset, c.dataOffset);
    EXPECT_EQ(parsed->parser.fHeader.wBitsPerSample, c.image.bitsPerSample);
    Bytes data(c.image.data.size());
    ASSERT_TRUE(parsed->parser.ReadData(data.data(), data.size()));
    EXPECT_EQ(data, c.image.data);
  }
}

TEST(WavReader, DataReachingPastTheEndFillsOnlyWhatExists) {
  TWavImage image = Stereo16(4);
  image.dataSize = 1000;
  image.riffSizeAdjust = 0;
  auto parsed = Parse(image.Build());
  ASSERT_TRUE(parsed->ok) << parsed->error;
  EXPECT_EQ(parsed->parser.fFrameCount, 250u);
  Bytes buffer(1000, 0xEE);
  ASSERT_TRUE(parsed->parser.ReadData(buffer.data(), buffer.size()));
  EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 16), image.data);
  EXPECT_EQ(buffer[16], 0xEE);  // untouched
}

TEST(WavReader, ReadDataNeverWritesPastTheCallersBuffer) {
  TWavImage image = Stereo16(100);
  auto parsed = Parse(image.Build());
  ASSERT_TRUE(parsed->ok);
  Bytes small(10);  // exactly sized: ASan reports any write beyond it
  ASSERT_TRUE(parsed->parser.ReadData(small.data(), small.size()));
  EXPECT_EQ(small, Bytes(10, 0x11));
}

// ---- Writer ----

TWavParser& Prepare(TWavParser& wav, uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits,
                    uint32_t dataSize) {
  wav.fHeader.wFormatTag = tag;
  wav.fHeader.nChannels = channels;
  wav.fHeader.nSamplesPerSec = rate;
  wav.fHeader.wBitsPerSample = bits;
  wav.fHeader.nBlockAlign = static_cast<uint16_t>(channels * bits / 8);
  wav.fHeader.nAvgBytesPerSec = wav.fHeader.nBlockAlign * rate;
  wav.fDataSize = dataSize;
  return wav;
}

Bytes WriteWav(const std::string& name, uint16_t tag, uint16_t channels, uint32_t rate,
               uint16_t bits, const Bytes& data) {
  TWavParser wav;
  Prepare(wav, tag, channels, rate, bits, static_cast<uint32_t>(data.size()));
  EXPECT_TRUE(wav.CreateOutputFile(name));
  for (size_t done = 0; done < data.size(); done += 1024) {
    wav.WriteData(data.data() + done,
                  static_cast<int32_t>(std::min<size_t>(1024, data.size() - done)));
  }
  wav.CloseFile();
  return test::ReadFileBytes(name);
}

TEST(WavWriter, StandardAndExtendedHeadersByteForByte) {
  test::TTempDir dir;
  Bytes second(176400, 0x5A);
  Bytes standard = WriteWav(dir / "s.wav", kWaveFormatPcm, 2, 44100, 16, second);
  ASSERT_EQ(standard.size(), 176444u);
  Bytes expectedStandard = test::TByteWriter()
                               .Tag("RIFF")
                               .U32(176436)
                               .Tag("WAVE")
                               .Tag("fmt ")
                               .U32(16)
                               .U16(1)
                               .U16(2)
                               .U32(44100)
                               .U32(176400)
                               .U16(4)
                               .U16(16)
                               .Tag("data")
                               .U32(176400)
                               .Result();
  EXPECT_EQ(Bytes(standard.begin(), standard.begin() + 44), expectedStandard);

  Bytes extended = WriteWav(dir / "e.wav", kWaveFormatExtensible, 2, 44100, 16, second);
  ASSERT_EQ(extended.size(), 176468u);
  Bytes expectedExtended = test::TByteWriter()
                               .Tag("RIFF")
                               .U32(176460)
                               .Tag("WAVE")
                               .Tag("fmt ")
                               .U32(40)
                               .U16(0xFFFE)
                               .U16(2)
                               .U32(44100)
                               .U32(176400)
                               .U16(4)
                               .U16(16)
                               .U16(22)
                               .U16(16)
                               .U32(0)
                               .Raw({0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00,
                                     0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71})
                               .Tag("data")
                               .U32(176400)
                               .Result();
  EXPECT_EQ(Bytes(extended.begin(), extended.begin() + 68), expectedExtended);
  EXPECT_EQ(Bytes(extended.begin() + 68, extended.end()), second);
}

TEST(WavWriter, OddDataSizeGetsNoPadByte) {
  test::TTempDir dir;
  Bytes file = WriteWav(dir / "odd.wav", kWaveFormatPcm, 1, 8000, 8, Bytes(1001, 0x80));
  ASSERT_EQ(file.size(), 1045u);
  EXPECT_EQ(file[4] | file[5] << 8, 1037);
}

TEST(WavWriter, EveryWrittenFileIsAcceptedByTheReader) {
  test::TTempDir dir;
  for (uint16_t tag : {kWaveFormatPcm, kWaveFormatExtensible}) {
    for (uint16_t bits : {8, 16, 24}) {
      for (uint16_t channels : {1, 2}) {
        SCOPED_TRACE(std::to_string(tag) + "/" + std::to_string(bits) + "/" +
                     std::to_string(channels));
        Bytes data(static_cast<size_t>(channels * bits / 8) * 77 + 1, 0x33);
        data.pop_back();
        Bytes file = WriteWav(dir / "w.wav", tag, channels, 48000, bits, data);
        auto parsed = Parse(file);
        ASSERT_TRUE(parsed->ok) << parsed->error;
        EXPECT_EQ(parsed->parser.fFrameCount, 77u);
        EXPECT_EQ(parsed->parser.fExtensible, tag == kWaveFormatExtensible);
      }
    }
  }
}

TEST(WavWriter, ReplacesExistingFilesAndWritesNothingForUnknownTags) {
  test::TTempDir dir;
  std::string name = dir.WriteFile("old.wav", std::string(5000, 'o'));
  Bytes file = WriteWav(name, kWaveFormatPcm, 1, 8000, 8, Bytes(10, 1));
  EXPECT_EQ(file.size(), 54u);
  TWavParser unknown;
  Prepare(unknown, 3, 1, 8000, 8, 0);
  EXPECT_TRUE(unknown.CreateOutputFile(name));
  unknown.CloseFile();
  EXPECT_EQ(test::ReadFileBytes(name).size(), 0u);
}

TEST(WavWriter, FailuresAreReportedNotSwallowed) {
  test::TTempDir dir;
  TWavParser noDirectory;
  Prepare(noDirectory, kWaveFormatPcm, 1, 8000, 8, 10);
  EXPECT_FALSE(noDirectory.CreateOutputFile(dir / "missing/out.wav"));
  EXPECT_EQ(noDirectory.fErrorText, "Can't open file");
  EXPECT_EQ(noDirectory.fErrorReason, "No such file or directory");

  TWavParser full;
  Prepare(full, kWaveFormatPcm, 1, 8000, 8, 10);
  try {
    ASSERT_TRUE(full.CreateOutputFile("/dev/full"));
    full.WriteData(Bytes(10).data(), 10);
    full.CloseFile();
    FAIL() << "a write to a full device was reported as success";
  } catch (const TFileError& error) {
    EXPECT_EQ(error.ErrorNumber(), ENOSPC);
    EXPECT_EQ(error.FileName(), "/dev/full");
  }
}

}  // namespace
}  // namespace tarvix
