#include "wav/WavReader.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <optional>

#include "platform/Errors.h"
#include "support/Builders.h"
#include "support/Fixtures.h"
#include "support/TempDir.h"
#include "support/WholeFiles.h"
#include "wav/WavNote.h"

namespace tarvix {
namespace {

using test::Bytes;
using test::TWavImage;

// An error as the refusal of a source words it: the message, then the reason in parentheses.
std::string Worded(const TError& error) {
  return error.Reason().empty() ? error.Message() : error.Message() + " (" + error.Reason() + ")";
}

// Parses bytes through the same reader that reads files.
struct TParsed {
  Bytes bytes;  // the memory the parser reads, alive as long as the parser
  bool ok = false;
  std::string error;
  TFault fault = TFault::kSource;
  TWavReader parser;
};

std::unique_ptr<TParsed> Parse(const Bytes& bytes) {
  auto parsed = std::make_unique<TParsed>();
  parsed->bytes = bytes;
  try {
    parsed->parser.OpenSource(std::make_unique<TMemorySource>(parsed->bytes), "memory.wav");
    parsed->ok = true;
  } catch (const TError& error) {
    parsed->error = Worded(error);
    parsed->fault = error.Fault();
  }
  return parsed;
}

// Sample bytes that differ from each other, so that a round trip shows every byte in place.
Bytes Samples(size_t count) {
  Bytes data(count);
  for (size_t i = 0; i < count; ++i) data[i] = static_cast<uint8_t>(i * 37 + i / 256 + 11);
  return data;
}

TWavImage Pcm(uint16_t bits, uint16_t channels = 2, size_t frames = 10) {
  TWavImage image;
  image.bitsPerSample = bits;
  image.channels = channels;
  image.data = Samples(frames * channels * bits / 8);
  return image;
}

TWavImage Stereo16(size_t frames = 10) {
  return Pcm(16, 2, frames);
}

TWavImage Extensible(uint16_t containerBits, uint16_t validBits) {
  TWavImage image = Pcm(containerBits, 2, 8);
  image.formatTag = kWaveFormatExtensible;
  image.fmtSize = 40;
  image.validBits = validBits;
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
      {"RIFF size too small for WAVE", [](TWavImage& w) { w.riffSize = 3; },
       "Wrong file size or bad header"},
      {"RIFF chunk ending inside the fmt chunk", [](TWavImage& w) { w.riffSize = 4 + 8 + 10; },
       "Wrong file size or bad header"},
      {"no fmt chunk", [](TWavImage& w) { w.fmtId = "FMT "; },
       "Wrong format or bad file header (fmt )"},
      {"fmt chunk after the RIFF chunk's end",
       [](TWavImage& w) {
         w.chunksBeforeFmt = {{"JUNK", Bytes(4)}};
         w.riffSize = 4 + 12;
       },
       "Wrong format or bad file header (fmt )"},
      {"PCM fmt of 14 bytes", [](TWavImage& w) { w.fmtSize = 14; },
       "Wrong format or bad file header (fmt chunk size)"},
      {"byte rate one too high", [](TWavImage& w) { w.avgBytesPerSec = 176401; },
       "Bad file header (AvgBytesPerSec)"},
      {"byte rate checked before bits",
       [](TWavImage& w) {
         w.bitsPerSample = 12;
         w.avgBytesPerSec = 1;
       },
       "Bad file header (AvgBytesPerSec)"},
      {"12-bit PCM", [](TWavImage& w) { w.bitsPerSample = 12; },
       "Wrong bits per sample (8,16,24 and 32 allowed)"},
      {"7 channels", [](TWavImage& w) { w.channels = 7; },
       "Only 1 to 6 channels allowed (this file has 7)"},
      {"no channels", [](TWavImage& w) { w.channels = 0; },
       "Only 1 to 6 channels allowed (this file has 0)"},
      {"extensible 8 channels", [](TWavImage& w) { w = Extensible(24, 24), w.channels = 8; },
       "Only 1 to 6 channels allowed (this file has 8)"},
      {"block align 0", [](TWavImage& w) { w.blockAlign = 0; }, "Bad file header (BlockAlign)"},
      {"block align too large", [](TWavImage& w) { w.blockAlign = 8; },
       "Bad file header (BlockAlign)"},
      {"ADPCM", [](TWavImage& w) { w.formatTag = 2; }, "Non supported WAV format"},
      {"32-bit float", [](TWavImage& w) { w.formatTag = 3, w.bitsPerSample = 32; },
       "32-bit float samples are not supported (NCW holds integer PCM)"},
      {"64-bit float, named before its odd byte rate",
       [](TWavImage& w) { w.formatTag = 3, w.bitsPerSample = 64, w.avgBytesPerSec = 1; },
       "64-bit float samples are not supported (NCW holds integer PCM)"},
      {"A-law", [](TWavImage& w) { w.formatTag = 6; }, "Non supported WAV format"},
      {"mu-law", [](TWavImage& w) { w.formatTag = 7; }, "Non supported WAV format"},
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
      {"extensible valid bits above the container", [](TWavImage& w) { w = Extensible(16, 24); },
       "Bad file header (ValidBitsPerSample)"},
      {"extensible no valid bits", [](TWavImage& w) { w = Extensible(16, 0); },
       "Bad file header (ValidBitsPerSample)"},
      {"extensible float",
       [](TWavImage& w) {
         w = Extensible(32, 32);
         w.subFormat[0] = 0x03;
       },
       "32-bit float samples are not supported (NCW holds integer PCM)"},
      {"extensible 64-bit float with 9 channels",
       [](TWavImage& w) {
         w = Extensible(64, 64), w.channels = 9;
         w.subFormat[0] = 0x03;
       },
       "64-bit float samples are not supported (NCW holds integer PCM)"},
      {"extensible A-law",
       [](TWavImage& w) {
         w = Extensible(8, 8);
         w.subFormat[0] = 0x06;
       },
       "Non supported format (GUID)"},
      {"RF64 without ds64", [](TWavImage& w) { w.rf64DataSize = 40; },
       "Wrong format or bad file header (ds64)"},
      {"RF64 ds64 too short for its sizes",
       [](TWavImage& w) { w.rf64DataSize = 40, w.ds64Size = 8; }, "Wrong file size or bad header"},
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
      {"data chunk after the RIFF chunk's end",
       [](TWavImage& w) {
         w.chunksBeforeData = {{"LIST", Bytes(4)}};
         w.riffSize = 4 + 24 + 12;
       },
       "No data chunk found"},
  };
  for (const RefusalCase& c : cases) {
    SCOPED_TRACE(c.name);
    TWavImage image = Stereo16();
    c.change(image);
    Bytes bytes = image.Build();
    if (c.name == "not RIFF") bytes[0] = 'r';
    if (c.name == "RF64 without ds64") bytes[12] = 'J';  // "Js64": another chunk comes first
    auto parsed = Parse(bytes);
    EXPECT_FALSE(parsed->ok);
    EXPECT_EQ(parsed->error, c.message);
    EXPECT_EQ(parsed->error.find('\0'), std::string::npos);  // printed without NULs
    EXPECT_EQ(parsed->fault, TFault::kSource);  // refused, never retried or ending the run
  }
}

// A file cut short inside its header says where; once the data chunk's header is complete, the
// file is read as far as it goes.
TEST(WavReader, TruncatedHeadersAreRefusedAtEveryLength) {
  Bytes whole = Stereo16(2).Build();
  for (size_t length = 0; length < 44; ++length) {
    Bytes cut(whole.begin(), whole.begin() + static_cast<long>(length));
    auto parsed = Parse(cut);
    EXPECT_FALSE(parsed->ok) << "length " << length;
    const char* message = length < 4    ? "Wrong format or bad file header (RIFF)"
                          : length < 12 ? "Wrong file size or bad header"
                          : length < 20 ? "Wrong format or bad file header (fmt )"
                          : length < 36 ? "Wrong file size or bad header"
                                        : "No data chunk found";
    EXPECT_EQ(parsed->error, message) << "length " << length;
  }
}

// A file that cannot be opened is the source's fault, named with the system's reason.
TEST(WavReader, OpenFailuresSayWhyTheFileIsNotOpen) {
  test::TTempDir dir;
  const struct {
    std::string name;
    std::string error;
  } cases[] = {
      {dir / "missing.wav", "File not opened (No such file or directory)"},
      {dir.Path(), "File not opened (not a regular file)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TWavReader wav;
    try {
      wav.Open(c.name);
      ADD_FAILURE() << "opened";
    } catch (const TError& error) {
      EXPECT_EQ(Worded(error), c.error);
      EXPECT_EQ(error.FileName(), c.name);
      EXPECT_EQ(error.Fault(), TFault::kSource);
    }
  }
}

TEST(WavReader, CanonicalFileGivesItsStreamDescription) {
  TWavImage image = Stereo16(10);
  image.data.push_back(0x7F);  // a partial frame is dropped from the count
  auto parsed = Parse(image.Build());
  ASSERT_TRUE(parsed->ok) << parsed->error;
  const TWavReader& wav = parsed->parser;
  EXPECT_EQ(wav.DataOffset(), 44u);
  EXPECT_EQ(wav.DataSize(), 41u);
  EXPECT_EQ(wav.FrameCount(), 10u);
  EXPECT_FALSE(wav.Extensible());
  TStreamDescription stream = wav.StreamDescription();
  EXPECT_EQ(stream.nChannels, 2);
  EXPECT_EQ(stream.nSamplesPerSec, 44100u);
  EXPECT_EQ(stream.wBitsPerSample, 16);
  EXPECT_EQ(stream.fFrameCount, 10u);
}

// Every form a writer may give a well-formed file, and sizes a writer could not fill in: the
// reader finds the samples that exist, and they come back from a round trip through the program.
TEST(WavReader, AcceptedLayouts) {
  struct Case {
    std::string name;
    std::function<void(TWavImage&)> change;  // to 16-bit stereo, 10 frames
    uint64_t dataOffset;
    size_t dataSize;          // the bytes that exist; whole frames of them are the samples
    uint64_t cutShortOf = 0;  // the frames a file cut short declares (0: it is not)
  };
  // The file of the pad-byte report: an odd LIST chunk without its pad byte right before the
  // data, whose first sample is zero.
  std::vector<int64_t> ramp(10, 0);
  for (int64_t v = 1; v <= 522; ++v) ramp.push_back(v);
  TWavImage noPad = Pcm(16, 1);
  noPad.data = test::SampleBytes(16, ramp);
  noPad.chunksBeforeData = {{"LIST", {'I', 'N', 'F', 'O', 'x'}}};
  noPad.padOddChunks = false;
  const Bytes tag = {'T', 'A', 'G', 1, 2, 3};  // after the RIFF chunk
  auto streamed = [](TWavImage& w) { w.riffSize = 0x7FFFF024, w.dataSize = 0x7FFFF000; };
  const Case cases[] = {
      {"canonical 8-bit mono", [](TWavImage& w) { w = Pcm(8, 1); }, 44, 10},
      {"fmt chunk of 18 bytes, cbSize 0", [](TWavImage& w) { w.fmtSize = 18, w.cbSize = 0; }, 46,
       40},
      {"fmt chunk of 20 bytes", [](TWavImage& w) { w.fmtSize = 20; }, 48, 40},
      {"extensible fmt chunk of 48 bytes",
       [](TWavImage& w) { w = Extensible(16, 16), w.fmtSize = 48; }, 76, 32},
      {"JUNK before fmt",
       [](TWavImage& w) {
         w.chunksBeforeFmt = {{"JUNK", Bytes(28)}};
       },
       80, 40},
      {"odd bext before fmt with its pad byte",
       [](TWavImage& w) {
         w.chunksBeforeFmt = {{"bext", Bytes(5, 'b')}};
       },
       58, 40},
      {"odd bext before fmt without its pad byte",
       [](TWavImage& w) {
         w.chunksBeforeFmt = {{"bext", Bytes(5, 'b')}}, w.padOddChunks = false;
       },
       57, 40},
      {"LIST and fact chunks",
       [](TWavImage& w) {
         w.chunksBeforeData = {{"LIST", Bytes(6, 'x')}, {"fact", Bytes(4)}};
       },
       44 + 14 + 12, 40},
      {"odd LIST chunk with its pad byte",
       [](TWavImage& w) {
         w.chunksBeforeData = {{"LIST", Bytes(5, 'x')}};
       },
       44 + 14, 40},
      {"odd LIST chunk whose writer left the pad out",
       [](TWavImage& w) {
         w.chunksBeforeData = {{"LIST", Bytes(5, 'x')}}, w.padOddChunks = false;
       },
       44 + 13, 40},
      {"no pad byte before data that starts with a zero byte", [&](TWavImage& w) { w = noPad; }, 57,
       1064},
      {"chunks after the data",
       [](TWavImage& w) { w.trailing = {'L', 'I', 'S', 'T', 1, 0, 0, 0, 9, 0}; }, 44, 40},
      {"bytes after the RIFF chunk", [&](TWavImage& w) { w.trailing = tag, w.riffSizeAdjust = -6; },
       44, 40},
      {"32-bit PCM", [](TWavImage& w) { w = Pcm(32, 2); }, 44, 80},
      {"extensible 32-bit containers with 24 valid bits",
       [](TWavImage& w) { w = Extensible(32, 24); }, 68, 64},
      {"extensible 32 bits", [](TWavImage& w) { w = Extensible(32, 32); }, 68, 64},
      {"extensible 16 bits", [](TWavImage& w) { w = Extensible(16, 16); }, 68, 32},
      {"data size past the end of the file", [](TWavImage& w) { w.dataSize = 1000; }, 44, 40, 250},
      {"sizes of ffmpeg writing to a pipe",
       [](TWavImage& w) { w.riffSize = w.dataSize = 0xFFFFFFFF; }, 44, 40},
      {"sizes of sox writing to standard output", streamed, 44, 40},
      {"8-bit mono streamed, even, its last sample kept",
       [&](TWavImage& w) { w = Pcm(8, 1), streamed(w); }, 44, 10},
      {"8-bit mono streamed, odd, with its pad byte",
       [&](TWavImage& w) { w = Pcm(8, 1, 11), w.trailing = {0}, streamed(w); }, 44, 11},
      {"file cut short inside a frame",
       [](TWavImage& w) { w.data.push_back(7), w.dataSize = 400, w.riffSize = 436; }, 44, 41, 100},
      {"data size past the RIFF chunk, bytes after it",
       [&](TWavImage& w) { w.dataSize = 1000, w.trailing = tag, w.riffSizeAdjust = -6; }, 44, 40,
       250},
      {"data size past the end of the file, exact RIFF size", [](TWavImage& w) { w.dataSize = 44; },
       44, 40, 11},
      {"sox's streaming size for 6 channels of 24 bits: whole frames below 0x7FFFF000",
       [](TWavImage& w) { w = Pcm(24, 6), w.riffSize = 0x7FFFF01A, w.dataSize = 0x7FFFEFF6; }, 44,
       180},
      {"sox's size for 2 bytes a frame, not whole frames of 6 channels of 24 bits",
       [](TWavImage& w) { w = Pcm(24, 6), w.dataSize = 0x7FFFF000; }, 44, 180, 0x7FFFF000 / 18},
      {"extensible 20 valid bits in 24", [](TWavImage& w) { w = Extensible(24, 20); }, 68, 48},
      {"extensible 12 valid bits in 16", [](TWavImage& w) { w = Extensible(16, 12); }, 68, 32},
      {"3 channels", [](TWavImage& w) { w = Pcm(16, 3); }, 44, 60},
      {"4 channels of 24 bits", [](TWavImage& w) { w = Pcm(24, 4); }, 44, 120},
      {"6 channels extensible of 8 bits",
       [](TWavImage& w) { w = Extensible(8, 8), w.channels = 6, w.data = Samples(6 * 8); }, 68, 48},
      {"RF64, the data size in ds64", [](TWavImage& w) { w.rf64DataSize = 40; }, 80, 40},
      {"RF64, the data chunk stating its size",
       [](TWavImage& w) { w.rf64DataSize = 40, w.dataSize = 40; }, 80, 40},
      {"RF64 whose ds64 size reaches past the end",
       [](TWavImage& w) { w.rf64DataSize = 1000, w.riffSize = 0xFFFFFFFF; }, 80, 40, 250},
      {"RF64 whose ds64 chunk gives a data size of 0",
       [](TWavImage& w) { w.rf64DataSize = 0, w.riffSize = 0xFFFFFFFF; }, 80, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TWavImage image = Stereo16();
    c.change(image);
    auto parsed = Parse(image.Build());
    ASSERT_TRUE(parsed->ok) << parsed->error;
    const TWavReader& wav = parsed->parser;
    EXPECT_EQ(wav.DataOffset(), c.dataOffset);
    EXPECT_EQ(wav.DataSize(), c.dataSize);
    const size_t frameBytes = size_t{image.channels} * image.bitsPerSample / 8;
    EXPECT_EQ(wav.FrameCount(), c.dataSize / frameBytes);
    EXPECT_EQ(wav.CutShort(), c.cutShortOf != 0);
    if (c.cutShortOf != 0) {
      EXPECT_EQ(wav.DeclaredFrames(), c.cutShortOf);
    }
    EXPECT_EQ(wav.Header().wBitsPerSample, image.bitsPerSample);
    const Bytes samples(image.data.begin(),
                        image.data.begin() + static_cast<long>(wav.FrameCount() * frameBytes));
    Bytes data(samples.size());
    ASSERT_NO_THROW(ReadWavData(wav, data.data(), data.size()));
    EXPECT_EQ(data, samples);
    test::TTempDir dir;
    dir.WriteFile("x.wav", image.Build());
    if (c.cutShortOf == 0) {
      EXPECT_EQ(test::RoundTripSamples(dir, "x.wav"), samples);
      continue;
    }
    // Converted as far as it goes, with the warning, and the run fails.
    test::TProcessResult result = test::RunTarvixIn(dir, {"x.wav"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(test::Lines(result.out),
              (std::vector<std::string>{
                  "[1 from 1]  x.wav...",
                  "  WARNING: 'x.wav' is cut short: " + std::to_string(wav.FrameCount()) + " of " +
                      std::to_string(c.cutShortOf) + " frames are there"}));
    EXPECT_EQ(test::NcwSampleBytes(dir / "x.ncw"), samples);
  }
}

// Sizes up to 4 GiB are sizes, not signed numbers: sparse files of the largest sizes. RF64
// files are read as long as their samples stay within 4 GiB, and refused above, naming it.
TEST(WavReader, FilesUpTo4GiBAreRead) {
  struct Case {
    uint64_t length;
    uint32_t riffSize, dataSize, expectedDataSize;
    std::optional<uint64_t> rf64DataSize;  // set: an RF64 file of this data size
    std::string error;
  } cases[] = {
      {3ull << 30, (3u << 30) - 8, (3u << 30) - 44, (3u << 30) - 44, {}, ""},
      {(4ull << 30) + 6, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFFu - 37, {}, ""},
      {3ull << 30, 0xFFFFFFFF, 0xFFFFFFFF, (3u << 30) - 80, (3ull << 30) - 80, ""},
      {(4ull << 30) + 80, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, (4ull << 30) - 1, ""},
      {(4ull << 30) + 80, 0xFFFFFFFF, 0xFFFFFFFF, 0, 4ull << 30,
       "RF64 data of 4294967296 bytes exceeds the 4 GiB limit"},
      // Cut short: read as far as it goes.
      {1ull << 30, 0xFFFFFFFF, 0xFFFFFFFF, (1u << 30) - 80, 5ull << 30, ""},
  };
  test::TTempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.length) + (c.rf64DataSize ? " RF64" : ""));
    TWavImage image = Stereo16(0);
    image.riffSize = c.riffSize;
    image.dataSize = c.dataSize;
    image.rf64DataSize = c.rf64DataSize;
    Bytes bytes = image.Build();
    if (c.rf64DataSize) {
      for (int i = 0; i < 8; ++i) bytes[20 + i] = static_cast<uint8_t>((c.length - 8) >> (8 * i));
    }
    std::string name = dir.WriteFile("big.wav", bytes);
    std::filesystem::resize_file(name, c.length);
    TWavReader wav;
    if (!c.error.empty()) {
      try {
        wav.Open(name);
        ADD_FAILURE() << "opened";
      } catch (const TError& error) {
        EXPECT_EQ(Worded(error), c.error);
        EXPECT_EQ(error.Fault(), TFault::kSource);
      }
      continue;
    }
    ASSERT_NO_THROW(wav.Open(name));
    EXPECT_EQ(wav.DataOffset(), c.rf64DataSize ? 80u : 44u);
    EXPECT_EQ(wav.DataSize(), c.expectedDataSize);
    EXPECT_EQ(wav.FrameCount(), c.expectedDataSize / 4);
  }
}

Bytes Chunk(const std::string& id, const Bytes& body) {
  return test::TByteWriter().Tag(id).U32(static_cast<uint32_t>(body.size())).Raw(body).Result();
}

// What an NCW file cannot keep is collected while the header is read and named in one line:
// chunks in file order, each once, wherever they lie, shown so that no terminal can be fooled;
// valid bits below the container; a speaker mask that says more than the channel count.
TEST(WavReader, NamesWhatNcwCannotKeep) {
  struct Case {
    std::string name;
    std::function<void(TWavImage&)> change;  // to 16-bit stereo, 10 frames
    std::string has;                         // what the note says the file has; "": no note
  };
  const Bytes smpl = Chunk("smpl", Bytes(36, 1));
  std::vector<std::pair<std::string, Bytes>> many;
  std::string manyIds;
  for (int i = 0; i < 20; ++i) {
    std::string id = "c0" + std::string(i < 10 ? "0" : "") + std::to_string(i);
    many.push_back({id, Bytes(2)});
    if (i < 16) manyIds += id + ", ";
  }
  const Case cases[] = {
      {"plain PCM", [](TWavImage&) {}, ""},
      {"chunks that frame the samples or fill space",
       [](TWavImage& w) {
         w.chunksBeforeFmt = {{"JUNK", Bytes(28)}};
         w.chunksBeforeData = {
             {"fact", Bytes(4)}, {"PAD ", Bytes(6)}, {"FLLR", Bytes(2)}, {"junk", Bytes(3)}};
       },
       ""},
      {"metadata around the data, in file order, each once",
       [&](TWavImage& w) {
         w.chunksBeforeFmt = {{"bext", Bytes(5, 'b')}};
         w.chunksBeforeData = {{"LIST", Bytes(6)}, {"cue ", Bytes(4)}, {"LIST", Bytes(2)}};
         w.trailing = smpl;
         for (uint8_t b : Chunk("LIST", Bytes(3, 'x'))) w.trailing.push_back(b);
         w.trailing.push_back(0);  // its pad byte
         for (uint8_t b : Chunk("inst", Bytes(7))) w.trailing.push_back(b);
       },
       "bext, LIST, cue, smpl, inst chunks"},
      {"one chunk",
       [](TWavImage& w) {
         w.chunksBeforeData = {{"iXML", Bytes(9, 'x')}};
       },
       "iXML chunk"},
      {"identifiers that could mislead a terminal or the list",
       [](TWavImage& w) {
         w.chunksBeforeData = {{"\x1b[2J", Bytes(2)}, {"a,\\ ", Bytes(2)}, {"    ", Bytes(2)}};
       },
       "\\x1B[2J, a\\x2C\\x5C, \\x20\\x20\\x20\\x20 chunks"},
      {"a tail of zeros after the data is no chunk",
       [&](TWavImage& w) {
         w.trailing = Bytes(8);
         w.trailing.insert(w.trailing.end(), smpl.begin(), smpl.end());
       },
       ""},
      {"data that runs to the end: nothing after it is looked at",
       [&](TWavImage& w) { w.dataSize = 1000, w.trailing = smpl; }, ""},
      {"more than 16 kinds of chunk", [&](TWavImage& w) { w.chunksBeforeData = many; },
       manyIds + "... chunks"},
      {"RF64 with tags", [](TWavImage& w) { w.rf64DataSize = 40, w.trailing = Chunk("id3 ", {}); },
       "id3 chunk"},
      {"20 valid bits in 24", [](TWavImage& w) { w = Extensible(24, 20); },
       "20 valid bits in 24-bit containers"},
      {"the usual stereo mask", [](TWavImage& w) { w = Extensible(16, 16), w.channelMask = 3; },
       ""},
      {"the usual mono mask",
       [](TWavImage& w) {
         w = Extensible(16, 16), w.channels = 1, w.channelMask = 4, w.data = Samples(16);
       },
       ""},
      {"no mask", [](TWavImage& w) { w = Extensible(16, 16), w.channelMask = 0; }, ""},
      {"stereo on the side speakers",
       [](TWavImage& w) { w = Extensible(16, 16), w.channelMask = 0x600; }, "speaker mask 0x600"},
      {"mono on the left",
       [](TWavImage& w) { w = Extensible(8, 8), w.channels = 1, w.channelMask = 1; },
       "speaker mask 0x1"},
      {"5.1 of 24 bits in 32, with loop points",
       [&](TWavImage& w) {
         w = Extensible(32, 24), w.channels = 6, w.channelMask = 0x3F, w.data = Samples(6 * 4 * 3);
         w.trailing = smpl;
       },
       "24 valid bits in 32-bit containers, speaker mask 0x3F, smpl chunk"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TWavImage image = Stereo16();
    c.change(image);
    auto parsed = Parse(image.Build());
    ASSERT_TRUE(parsed->ok) << parsed->error;
    const std::string expected =
        c.has.empty() ? "" : "  note: 'Kit/a.wav' has " + c.has + "; NCW keeps the samples only";
    EXPECT_EQ(WavNoteLine("Kit/a.wav", parsed->parser.Extras()), expected);
  }
}

TEST(WavReader, ReadWavDataNeverWritesPastTheCallersBuffer) {
  TWavImage image = Stereo16(100);
  auto parsed = Parse(image.Build());
  ASSERT_TRUE(parsed->ok);
  Bytes small(10);  // exactly sized: ASan reports any write beyond it
  ASSERT_NO_THROW(ReadWavData(parsed->parser, small.data(), small.size()));
  EXPECT_EQ(small, Bytes(image.data.begin(), image.data.begin() + 10));
}

}  // namespace
}  // namespace tarvix
