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
  // Without a head, with one that holds part of the file, and with one larger than the file.
  for (size_t headBytes : {size_t{0}, size_t{4096}, size_t{400000}}) {
    SCOPED_TRACE(headBytes);
    std::vector<uint8_t> head(headBytes);
    for (std::vector<size_t> pieces :
         {std::vector<size_t>{4}, {1, 3, 8, 4000}, {65535, 2}, {40000, 100000}, {300001}}) {
      TFileSource file(name, head);
      EXPECT_EQ(file.Size(), content.size());
      EXPECT_EQ(file.Head().size(), std::min(headBytes, content.size()));
      ExpectReadsMatch(file, content, pieces);
      file.ForgetHead();  // later reads go to the file, whatever the head's memory holds now
      std::fill(head.begin(), head.end(), 0);
      ExpectReadsMatch(file, content, pieces);
    }
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

TEST(FileSink, PiecesLandAtTheirPositionsInAnyOrderAndResizingAddsZeros) {
  test::TTempDir dir;
  std::vector<uint8_t> content = Pattern(3 * 1024 * 1024 + 17);
  std::string name = dir / "out.bin";
  {
    TFileSink sink(name);
    // Pieces written last to first, as runs coded side by side may arrive.
    size_t sizes[] = {1024, 1, 2 * 1024 * 1024, 1024, 700000, 5};
    std::vector<std::pair<size_t, size_t>> pieces;
    for (size_t done = 0, turn = 0; done < content.size(); done += pieces.back().second) {
      pieces.emplace_back(done, std::min(sizes[turn++ % 6], content.size() - done));
    }
    for (auto piece = pieces.rbegin(); piece != pieces.rend(); ++piece) {
      sink.WriteAt(piece->first, content.data() + piece->first, piece->second);
    }
    sink.Resize(content.size() + 100);
    sink.Close();
  }
  content.resize(content.size() + 100, 0);
  EXPECT_EQ(test::ReadFileBytes(name), content);
}

TEST(FileSink, CreatingEmptiesAnExistingFile) {
  test::TTempDir dir;
  std::string name = dir.WriteFile("out.bin", "old content that is longer");
  TFileSink sink(name);
  sink.WriteAt(0, "new", 3);
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
  TFileSink full("/dev/full");
  try {
    full.WriteAt(0, "abc", 3);
    FAIL() << "a write to a full device was reported as success";
  } catch (const TFileError& error) {
    EXPECT_EQ(error.Kind(), TFileErrorKind::kWrite);
    EXPECT_EQ(error.ErrorNumber(), ENOSPC);
    EXPECT_EQ(error.FileName(), "/dev/full");
  }
}

}  // namespace
}  // namespace tarvix
