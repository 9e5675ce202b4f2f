#include "common/stream.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

namespace brevis {
namespace {

std::string ReadAll(Stream& s) {
  s.SetPosition(0);
  std::string out(static_cast<std::size_t>(s.Size()), '\0');
  EXPECT_EQ(s.Read(reinterpret_cast<uint8_t*>(out.data()), out.size()), out.size());
  return out;
}

// Both seekable streams behave alike: overwrite in place, extend, shrink, read back.
template <typename Make>
void ExerciseStream(Make make) {
  auto s = make();
  const std::string hello = "hello world";
  s->Write(reinterpret_cast<const uint8_t*>(hello.data()), hello.size());
  EXPECT_EQ(s->Position(), 11);
  s->SetPosition(6);
  s->Write(reinterpret_cast<const uint8_t*>("WORLD!!"), 7);
  EXPECT_EQ(s->Size(), 13);
  EXPECT_EQ(ReadAll(*s), "hello WORLD!!");
  s->SetSize(5);
  EXPECT_EQ(s->Size(), 5);
  EXPECT_EQ(ReadAll(*s), "hello");
  uint8_t byte = 0;
  EXPECT_EQ(s->Read(&byte, 1), 0u);
  EXPECT_THROW(s->SetPosition(-1), std::out_of_range);
}

TEST(StreamTest, MemoryAndFileStreamsAgree) {
  ExerciseStream([] { return std::make_unique<MemoryStream>(); });
  const auto path = std::filesystem::temp_directory_path() / "brevis_stream_test.bin";
  ExerciseStream([&] { return std::make_unique<FileStream>(path.string(), FileStream::fmCreate); });
  {
    FileStream reread(path.string(), FileStream::fmOpenRead);
    EXPECT_EQ(ReadAll(reread), "hello");
  }
  std::filesystem::remove(path);
}

TEST(StreamTest, MemoryStreamGrowsByDoubling) {
  // Pieces of varying sizes: each move of the bytes at least doubles the room, so a stream
  // filled piece by piece moves its bytes once per doubling and never holds twice its size.
  MemoryStream s;
  const std::string piece(5000, 'p');
  std::size_t capacity = s.Bytes().capacity();
  for (int i = 0; i < 2000; ++i) {
    s.Write(reinterpret_cast<const uint8_t*>(piece.data()),
            static_cast<std::size_t>(1 + (i * 7919) % 5000));
    const std::size_t now = s.Bytes().capacity();
    if (now != capacity) {
      EXPECT_GE(now, 2 * capacity) << i;
      capacity = now;
    }
    EXPECT_LE(now, 2 * s.Bytes().size()) << i;
  }
  // Reserved room is used as it is.
  MemoryStream reserved;
  reserved.Reserve(10 * 5000);
  const uint8_t* const data = reserved.Bytes().data();
  for (int i = 0; i < 10; ++i) {
    reserved.Write(reinterpret_cast<const uint8_t*>(piece.data()), piece.size());
  }
  EXPECT_EQ(reserved.Bytes().data(), data);
  EXPECT_EQ(reserved.Bytes().capacity(), 10u * 5000);
  // Hints that each ask for a little more still double the room.
  for (int i = 1; i <= 100; ++i) reserved.Reserve(10 * 5000 + i);
  EXPECT_EQ(reserved.Bytes().capacity(), 20u * 5000);
}

TEST(StreamTest, FileStreamFailuresNameTheFile) {
  try {
    FileStream s("/nonexistent-dir/x.pdf", FileStream::fmCreate);
    FAIL() << "no exception";
  } catch (const std::runtime_error& e) {
    EXPECT_EQ(std::string(e.what()),
              "Cannot create file \"/nonexistent-dir/x.pdf\": No such file or directory");
  }
}

}  // namespace
}  // namespace brevis
