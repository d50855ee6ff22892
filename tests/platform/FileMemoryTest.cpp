#include "platform/FileMemory.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <vector>

#include "platform/MemoryStream.h"

namespace tarvix {
namespace {

TEST(FileMemory, SmallAndLargeBlocksStartZeroedAndKeepTheirContentWhenGrown) {
  // 1 KiB stays with the C library; 6 MiB and 20 MiB come from the system on huge pages.
  for (size_t size : {size_t{1024}, size_t{6} << 20}) {
    TFileMemory memory(size);
    const uint8_t* data = memory.Data();
    EXPECT_TRUE(std::all_of(data, data + size, [](uint8_t b) { return b == 0; }));
    std::iota(memory.Data(), memory.Data() + size, uint8_t{7});
    memory.Grow(size_t{20} << 20);
    ASSERT_EQ(memory.Size(), size_t{20} << 20);
    for (size_t i = 0; i < size; i += 4093) {
      ASSERT_EQ(memory.Data()[i], static_cast<uint8_t>(7 + i)) << "at " << i;
    }
    PrepareForWriting(memory.Data(), memory.Size());  // only a hint, but must not hurt
    memory.Data()[memory.Size() - 1] = 1;
  }
}

TEST(MemoryStream, GrowsPieceByPieceAcrossEveryKindOfBlock) {
  TMemoryStream stream;
  std::vector<uint8_t> expected;
  uint8_t next = 0;
  // Pieces of odd sizes up to 24 MiB: small blocks, the step to system memory, remapping.
  while (expected.size() < (size_t{24} << 20)) {
    size_t piece = 1 + expected.size() / 3 % 100003;
    std::vector<uint8_t> bytes(piece);
    for (uint8_t& b : bytes) b = next++;
    stream.Append(bytes.data(), bytes.size());
    expected.insert(expected.end(), bytes.begin(), bytes.end());
  }
  ASSERT_EQ(stream.Size(), expected.size());
  EXPECT_TRUE(std::equal(expected.begin(), expected.end(), stream.Data()));
  TMemoryStream reserved;
  reserved.TryReserve(size_t{8} << 20);
  uint8_t* first = reserved.Extend(100);
  reserved.Extend(size_t{7} << 20);
  EXPECT_EQ(reserved.Data(), first);  // within the reserve nothing moves
}

}  // namespace
}  // namespace tarvix
