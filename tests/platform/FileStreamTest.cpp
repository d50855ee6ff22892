#include "platform/FileStream.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <numeric>

#include "platform/Errors.h"
#include "support/TempDir.h"

namespace tarvix {
namespace {

std::vector<uint8_t> Pattern(size_t size) {
  std::vector<uint8_t> bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(i * 7 + i / 251);
  return bytes;
}

// Reads the whole source in pieces of the given sizes (cycled), seeking back now and then, and
// checks every byte: small pieces go through the read buffer, large ones around it.
void ExpectReadsMatch(TByteSource& source, const std::vector<uint8_t>& expected,
                      std::vector<size_t> pieces) {
  std::vector<uint8_t> got(expected.size() + 10);
  uint64_t position = 0;
  size_t turn = 0;
  while (position < expected.size()) {
    size_t piece = pieces[turn++ % pieces.size()];
    source.Seek(position);
    size_t n = source.Read(got.data(), piece);
    size_t want = std::min<uint64_t>(piece, expected.size() - position);
    ASSERT_EQ(n, want) << "at " << position;
    ASSERT_TRUE(std::equal(got.begin(), got.begin() + static_cast<long>(n),
                           expected.begin() + static_cast<long>(position)))
        << "at " << position;
    EXPECT_EQ(source.Position(), position + n);
    position += n;
  }
  source.Seek(expected.size() + 5);
  EXPECT_EQ(source.Read(got.data(), 4), 0u);
}

TEST(FileSource, ReadsEveryPieceSizeAcrossBufferBoundaries) {
  test::TTempDir dir;
  std::vector<uint8_t> content = Pattern(300000);
  std::string name = dir.WriteFile("data.bin", content);
  for (std::vector<size_t> pieces :
       {std::vector<size_t>{4}, {1, 3, 8, 4000}, {65535, 2}, {40000, 100000}, {300001}}) {
    TFileSource file(name);
    EXPECT_EQ(file.Size(), content.size());
    ExpectReadsMatch(file, content, pieces);
  }
  TMemorySource memory(content);
  ExpectReadsMatch(memory, content, {7, 70000});
}

TEST(FileSource, TellsAFailedOpenFromOtherFailures) {
  test::TTempDir dir;
  try {
    TFileSource file(dir / "missing.wav");
    FAIL() << "opened a missing file";
  } catch (const TFileError& error) {
    EXPECT_TRUE(error.CannotOpen());
    EXPECT_EQ(error.FileName(), dir / "missing.wav");
    EXPECT_EQ(error.ErrorNumber(), ENOENT);
  }
  std::string fifo = dir / "pipe.wav";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& name : {dir.Path(), fifo}) {
    try {
      TFileSource file(name);  // must not hang on the FIFO
      FAIL() << "opened " << name;
    } catch (const TFileError& error) {
      EXPECT_FALSE(error.CannotOpen());
      EXPECT_NE(error.Report().find("not a regular file"), std::string::npos);
    }
  }
}

TEST(FileSink, MixedPieceSizesArriveInOrder) {
  test::TTempDir dir;
  std::vector<uint8_t> content = Pattern(3 * 1024 * 1024 + 17);
  std::string name = dir / "out.bin";
  {
    TFileSink sink(name);
    size_t sizes[] = {1024, 1, 2 * 1024 * 1024, 1024, 700000, 5};
    size_t done = 0, turn = 0;
    while (done < content.size()) {
      size_t n = std::min(sizes[turn++ % 6], content.size() - done);
      sink.Write(content.data() + done, n);
      done += n;
    }
    sink.Close();
  }
  EXPECT_EQ(test::ReadFileBytes(name), content);
}

TEST(FileSink, CreatingEmptiesAnExistingFile) {
  test::TTempDir dir;
  std::string name = dir.WriteFile("out.bin", "old content that is longer");
  TFileSink sink(name);
  sink.Write("new", 3);
  sink.Close();
  EXPECT_EQ(test::ReadFileText(name), "new");
}

TEST(FileSink, ReportsEveryFailureWithFileAndReason) {
  test::TTempDir dir;
  try {
    TFileSink sink(dir / "missing/out.bin");
    FAIL();
  } catch (const TFileError& error) {
    EXPECT_TRUE(error.CannotOpen());
    EXPECT_EQ(error.Report(),
              "Can't create file: '" + (dir / "missing/out.bin") + "' (No such file or directory)");
  }
  // A full device: the small write is buffered, so the failure shows up when it is flushed.
  TFileSink full("/dev/full");
  full.Write("abc", 3);
  try {
    full.Close();
    FAIL() << "a write to a full device was reported as success";
  } catch (const TFileError& error) {
    EXPECT_EQ(error.ErrorNumber(), ENOSPC);
    EXPECT_EQ(error.FileName(), "/dev/full");
  }
  TFileSink fullLarge("/dev/full");
  std::vector<uint8_t> large(2 * 1024 * 1024);
  EXPECT_THROW(fullLarge.Write(large.data(), large.size()), TFileError);
}

}  // namespace
}  // namespace tarvix
