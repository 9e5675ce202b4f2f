// LooksLikeTiff: reads the header and the first directory of a TIFF file and checks that every
// part they point to lies inside the data.
#include "download/tiff_check.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

namespace brevis {

namespace {

constexpr uint16_t kStripOffsets = 273;
constexpr uint16_t kStripByteCounts = 279;
constexpr uint16_t kTileOffsets = 324;
constexpr uint16_t kTileByteCounts = 325;

constexpr uint16_t kTypeShort = 3;
constexpr uint16_t kTypeLong = 4;

// Bytes per value of a field type; 0 for a type this check does not know.
uint64_t TypeSize(uint16_t type) {
  switch (type) {
    case 1:
    case 2:
    case 6:
    case 7:
      return 1;  // BYTE, ASCII, SBYTE, UNDEFINED
    case 3:
    case 8:
      return 2;  // SHORT, SSHORT
    case 4:
    case 9:
    case 11:
    case 13:
      return 4;  // LONG, SLONG, FLOAT, IFD
    case 5:
    case 10:
    case 12:
      return 8;  // RATIONAL, SRATIONAL, DOUBLE
    default:
      return 0;
  }
}

class Reader {
 public:
  Reader(const uint8_t* data, std::size_t size, bool big_endian)
      : data_(data), size_(size), bigEndian_(big_endian) {}

  // Callers make sure that `at` + 2 (or + 4) lies inside the data.
  uint16_t U16(uint64_t at) const {
    const uint8_t* p = data_ + at;
    return static_cast<uint16_t>(bigEndian_ ? (p[0] << 8) | p[1] : (p[1] << 8) | p[0]);
  }
  uint32_t U32(uint64_t at) const {
    const uint32_t a = U16(at);
    const uint32_t b = U16(at + 2);
    return bigEndian_ ? (a << 16) | b : (b << 16) | a;
  }
  bool Holds(uint64_t at, uint64_t count) const { return at <= size_ && count <= size_ - at; }

 private:
  const uint8_t* data_;
  std::size_t size_;
  bool bigEndian_;
};

struct Field {
  uint16_t type = 0;
  uint32_t count = 0;
  uint64_t valueAt = 0;  // where the values lie: inside the entry, or at the offset it holds
};

// The values of a SHORT or LONG field; false when the field has another type.
bool ReadNumbers(const Reader& in, const Field& field, std::vector<uint64_t>& out) {
  if (field.type != kTypeShort && field.type != kTypeLong) return false;
  const uint64_t step = TypeSize(field.type);
  out.clear();
  out.reserve(field.count);
  for (uint64_t i = 0; i < field.count; ++i) {
    const uint64_t at = field.valueAt + i * step;
    out.push_back(field.type == kTypeShort ? in.U16(at) : in.U32(at));
  }
  return true;
}

// Checks that the parts named by an offsets field and a byte-counts field lie inside the data.
bool PartsInside(const Reader& in, const Field& offsets, const Field& counts) {
  std::vector<uint64_t> starts;
  std::vector<uint64_t> lengths;
  if (!ReadNumbers(in, offsets, starts) || !ReadNumbers(in, counts, lengths)) return false;
  if (starts.empty() || starts.size() != lengths.size()) return false;
  for (std::size_t i = 0; i < starts.size(); ++i) {
    if (!in.Holds(starts[i], lengths[i])) return false;
  }
  return true;
}

}  // namespace

bool LooksLikeTiff(const uint8_t* data, std::size_t size) {
  if (data == nullptr || size < 8) return false;
  bool big_endian;
  if (data[0] == 'I' && data[1] == 'I') {
    big_endian = false;
  } else if (data[0] == 'M' && data[1] == 'M') {
    big_endian = true;
  } else {
    return false;
  }
  const Reader in(data, size, big_endian);
  if (in.U16(2) != 42) return false;

  const uint64_t ifd = in.U32(4);
  if (ifd < 8 || !in.Holds(ifd, 2)) return false;
  const uint64_t entries = in.U16(ifd);
  // The entries and the 4-byte link to the next directory.
  if (entries == 0 || !in.Holds(ifd + 2, entries * 12 + 4)) return false;

  Field strip_offsets, strip_counts, tile_offsets, tile_counts;
  for (uint64_t i = 0; i < entries; ++i) {
    const uint64_t entry = ifd + 2 + i * 12;
    Field field;
    field.type = in.U16(entry + 2);
    field.count = in.U32(entry + 4);
    const uint64_t bytes = TypeSize(field.type) * field.count;
    field.valueAt = bytes <= 4 ? entry + 8 : in.U32(entry + 8);
    // Values of a known type must lie inside the data; unknown types are skipped by readers.
    if (TypeSize(field.type) != 0 && !in.Holds(field.valueAt, bytes)) return false;
    switch (in.U16(entry)) {
      case kStripOffsets:
        strip_offsets = field;
        break;
      case kStripByteCounts:
        strip_counts = field;
        break;
      case kTileOffsets:
        tile_offsets = field;
        break;
      case kTileByteCounts:
        tile_counts = field;
        break;
      default:
        break;
    }
  }
  if (strip_offsets.count > 0 || strip_counts.count > 0) {
    return PartsInside(in, strip_offsets, strip_counts);
  }
  return PartsInside(in, tile_offsets, tile_counts);
}

bool FileLooksLikeTiff(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat info {};
  bool tiff = false;
  if (::fstat(fd, &info) == 0 && info.st_size > 0) {
    const auto size = static_cast<std::size_t>(info.st_size);
    void* map = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
    if (map != MAP_FAILED) {
      tiff = LooksLikeTiff(static_cast<const uint8_t*>(map), size);
      ::munmap(map, size);
    }
  }
  ::close(fd);
  return tiff;
}

}  // namespace brevis
