// TiffMemoryFile: libtiff's client procedures over a string of bytes.
#include "common/tiff_memory_file.h"

#include <tiffio.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace brevis {

namespace {

TiffMemoryFile* FileOf(thandle_t handle) { return static_cast<TiffMemoryFile*>(handle); }

tmsize_t ReadProc(thandle_t handle, void* buffer, tmsize_t size) {
  TiffMemoryFile* file = FileOf(handle);
  const std::size_t available =
      file->Position < file->Bytes.size() ? file->Bytes.size() - file->Position : 0;
  const std::size_t n = std::min(available, static_cast<std::size_t>(size));
  if (n != 0) std::memcpy(buffer, file->Bytes.data() + file->Position, n);
  file->Position += n;
  return static_cast<tmsize_t>(n);
}

tmsize_t WriteProc(thandle_t handle, void* buffer, tmsize_t size) {
  TiffMemoryFile* file = FileOf(handle);
  const auto n = static_cast<std::size_t>(size);
  if (file->Position + n > file->Bytes.size()) file->Bytes.resize(file->Position + n);
  // libtiff writes empty strips with no buffer at all.
  if (n != 0) std::memcpy(file->Bytes.data() + file->Position, buffer, n);
  file->Position += n;
  return size;
}

toff_t SeekProc(thandle_t handle, toff_t offset, int whence) {
  TiffMemoryFile* file = FileOf(handle);
  std::size_t base = 0;
  if (whence == SEEK_CUR) base = file->Position;
  if (whence == SEEK_END) base = file->Bytes.size();
  file->Position = base + static_cast<std::size_t>(offset);
  return static_cast<toff_t>(file->Position);
}

int CloseProc(thandle_t) { return 0; }
toff_t SizeProc(thandle_t handle) { return static_cast<toff_t>(FileOf(handle)->Bytes.size()); }
int MapProc(thandle_t, void**, toff_t*) { return 0; }
void UnmapProc(thandle_t, void*, toff_t) {}

}  // namespace

tiff* OpenTiffMemoryFile(TiffMemoryFile& file, const char* name, const char* mode) {
  file.Position = 0;
  return TIFFClientOpen(name, mode, &file, ReadProc, WriteProc, SeekProc, CloseProc, SizeProc,
                        MapProc, UnmapProc);
}

}  // namespace brevis
