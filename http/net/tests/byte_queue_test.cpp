// Tests of ByteQueue against a plain string model, its growth rules and its errors.
#include "http/net/byte_queue.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "http/net/net_error.h"

namespace brevis {
namespace {

// Random writes, removals and extractions; the queue must always hold what the model holds,
// and its spare room must stay within the growth rules.
TEST(ByteQueueTest, MatchesStringModel) {
  std::mt19937 rng(20100410);
  ByteQueue queue;
  std::size_t removed_reported = 0;
  queue.SetOnBytesRemoved([&](std::size_t n) { removed_reported += n; });
  std::string model;
  std::size_t removed_expected = 0;
  for (int step = 0; step < 4000; ++step) {
    SCOPED_TRACE(step);
    const int op = static_cast<int>(rng() % 4);
    if (op <= 1) {
      std::string bytes(rng() % 3000, '\0');
      for (char& c : bytes) c = static_cast<char>(rng() % 256);
      queue.Write(bytes);
      model += bytes;
    } else if (op == 2) {
      const std::size_t n = model.empty() ? 0 : rng() % (model.size() + 1);
      queue.Remove(n);
      model.erase(0, n);
      removed_expected += n;
    } else {
      const std::size_t n = model.empty() ? 0 : rng() % (model.size() + 1);
      std::vector<uint8_t> out = {'x'};
      queue.ExtractToBytes(out, static_cast<int64_t>(n));
      ASSERT_EQ(std::string(out.begin() + 1, out.end()), model.substr(0, n));
      model.erase(0, n);
      removed_expected += n;
    }
    ASSERT_EQ(queue.Size(), model.size());
    ASSERT_EQ(queue.View(), model);
    // Spare room never exceeds one growth step beyond the largest single write (3000) plus the
    // head that may lag by up to one growth step.
    ASSERT_LE(queue.Capacity(), model.size() + 3000 + 2 * ByteQueue::kGrowthFactor);
  }
  EXPECT_EQ(removed_reported, removed_expected);
}

TEST(ByteQueueTest, GrowthAndCompaction) {
  ByteQueue queue;
  queue.Write(std::string(100, 'a'));
  EXPECT_EQ(queue.Capacity(), 100u);  // the first write takes exactly its length
  queue.Write(std::string(50, 'b'));
  EXPECT_EQ(queue.Capacity(), 150u + ByteQueue::kGrowthFactor);
  queue.Write(std::string(10, 'c'));  // fits into the spare room
  EXPECT_EQ(queue.Capacity(), 150u + ByteQueue::kGrowthFactor);

  ByteQueue big;
  big.Write(std::string(10000, 'z'));
  big.Remove(2000);  // head below the growth step: nothing moves
  EXPECT_EQ(big.Capacity(), 10000u);
  big.Remove(1000);  // head past it: compacted and shrunk to size + growth step
  EXPECT_EQ(big.Size(), 7000u);
  EXPECT_EQ(big.Capacity(), 7000u + ByteQueue::kGrowthFactor);
  big.Remove(big.Size() + 5);  // more than held empties it
  EXPECT_EQ(big.Size(), 0u);
  EXPECT_EQ(big.Capacity(), 0u);
}

TEST(ByteQueueTest, InsertExtractAndPeek) {
  ByteQueue queue;
  queue.Write("held");
  queue.Write("HEAD:", 0);
  queue.Write("-", 4);
  EXPECT_EQ(queue.View(), "HEAD-:held");
  EXPECT_EQ(queue.PeekByte(0), 'H');

  std::vector<uint8_t> bytes = {'1', '2', '3', '4', '5', '6', '7'};
  // From an explicit index the bytes are only copied, over the start of the array.
  EXPECT_EQ(queue.ExtractToBytes(bytes, 4, false, 6), 4u);
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "held567");
  EXPECT_EQ(queue.Size(), 10u);
  EXPECT_EQ(queue.Extract(5), "HEAD-");
  MemoryStream stream("0123456789");
  stream.SetPosition(2);
  queue.ExtractToStream(stream);
  EXPECT_EQ(stream.ToString(), "01:held789");
  EXPECT_EQ(queue.Size(), 0u);

  queue.Write("caf\xc3\xa9");
  EXPECT_EQ(queue.Extract(-1, TextEncoding::kAscii), "caf??");
  queue.Write("caf\xc3\xa9");
  EXPECT_EQ(queue.Extract(-1, TextEncoding::kRaw), "caf\xc3\xa9");
  EXPECT_EQ(queue.Extract(0), "");
}

TEST(ByteQueueTest, IndexOfAndErrors) {
  ByteQueue queue;
  EXPECT_EQ(queue.IndexOf("\n"), -1);  // an empty queue answers before any check
  queue.Write("ab\r\ncd\r\n");
  EXPECT_EQ(queue.IndexOf("\r\n"), 2);
  EXPECT_EQ(queue.IndexOf("\r\n", 3), 6);
  EXPECT_EQ(queue.IndexOf("x"), -1);

  struct Case {
    const char* name;
    std::function<void()> call;
    const char* message;
  };
  const Case kCases[] = {
      {"empty pattern", [&] { queue.IndexOf(""); }, "Buffer terminator must be specified."},
      {"start past end", [&] { queue.IndexOf("\n", 8); }, "Buffer start position is invalid."},
      {"negative start", [&] { queue.IndexOf("\n", -1); }, "Buffer start position is invalid."},
      {"extract too much", [&] { queue.Extract(9); }, "Not enough data in buffer."},
      {"too much data",
       [&] {
         const uint8_t byte = 0;
         // The size is checked before any byte is read.
         queue.Write(&byte, ByteQueue::kMaxSize);
       },
       "Too much data in buffer."},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    try {
      c.call();
      ADD_FAILURE() << "no exception";
    } catch (const NetError& e) {
      EXPECT_STREQ(e.what(), c.message);
    }
  }
  EXPECT_EQ(queue.View(), "ab\r\ncd\r\n");
}

}  // namespace
}  // namespace brevis
