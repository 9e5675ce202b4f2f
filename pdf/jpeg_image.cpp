// JPEG coding with libjpeg: errors leave libjpeg by longjmp to the one function that called it,
// which destroys the codec object and reports failure; no C++ object lives in the skipped frames.
#include "pdf/jpeg_image.h"

// clang-format off
#include <cstdio>  // jpeglib.h needs FILE and size_t declared first
#include <jpeglib.h>
// clang-format on

#include <algorithm>
#include <csetjmp>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "pdf/pdf_error.h"

namespace brevis {

namespace {

constexpr const char* kInvalidJpeg = "Invalid JPEG data.";

struct ErrorManager {
  jpeg_error_mgr pub;  // first member: libjpeg hands back a pointer to it
  std::jmp_buf jump;
};

[[noreturn]] void ErrorExit(j_common_ptr cinfo) {
  std::longjmp(reinterpret_cast<ErrorManager*>(cinfo->err)->jump, 1);
}

// Warnings and traces are not shown anywhere.
void OutputMessage(j_common_ptr) {}

void InitErrors(ErrorManager& errors) {
  jpeg_std_error(&errors.pub);
  errors.pub.error_exit = ErrorExit;
  errors.pub.output_message = OutputMessage;
}

// Compresses `height` rows of 3 * width bytes (red, green, blue) into `out`. Returns false when
// libjpeg fails.
bool CompressRgb(const uint8_t* rgb, int width, int height, int quality,
                 std::vector<uint8_t>& out) {
  jpeg_compress_struct cinfo{};
  ErrorManager errors;
  InitErrors(errors);
  cinfo.err = &errors.pub;
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  if (setjmp(errors.jump) != 0) {
    jpeg_destroy_compress(&cinfo);
    std::free(buffer);
    return false;
  }
  jpeg_create_compress(&cinfo);
  jpeg_mem_dest(&cinfo, &buffer, &size);
  cinfo.image_width = static_cast<JDIMENSION>(width);
  cinfo.image_height = static_cast<JDIMENSION>(height);
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, quality, TRUE);
  jpeg_start_compress(&cinfo, TRUE);
  const std::size_t row_bytes = 3 * static_cast<std::size_t>(width);
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(rgb + cinfo.next_scanline * row_bytes);
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  out.assign(buffer, buffer + size);
  jpeg_destroy_compress(&cinfo);
  std::free(buffer);
  return true;
}

struct JpegInfo {
  int width = 0;
  int height = 0;
  int components = 0;
};

// Reads the header and, when `rgb` is given, decodes the picture into rows of red, green and
// blue. Returns false when libjpeg fails.
bool Decompress(const std::vector<uint8_t>& data, JpegInfo& info, std::vector<uint8_t>* rgb) {
  jpeg_decompress_struct cinfo{};
  ErrorManager errors;
  InitErrors(errors);
  cinfo.err = &errors.pub;
  if (setjmp(errors.jump) != 0) {
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, data.data(), static_cast<unsigned long>(data.size()));
  jpeg_read_header(&cinfo, TRUE);
  info.width = static_cast<int>(cinfo.image_width);
  info.height = static_cast<int>(cinfo.image_height);
  info.components = cinfo.num_components;
  if (rgb != nullptr) {
    cinfo.out_color_space = JCS_RGB;
    jpeg_start_decompress(&cinfo);
    const std::size_t row_bytes = 3 * static_cast<std::size_t>(cinfo.output_width);
    rgb->assign(row_bytes * cinfo.output_height, 0);
    while (cinfo.output_scanline < cinfo.output_height) {
      JSAMPROW row = rgb->data() + cinfo.output_scanline * row_bytes;
      jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
  }
  jpeg_destroy_decompress(&cinfo);
  return true;
}

}  // namespace

JpegImage JpegImage::FromBitmap(const Bitmap& bitmap, int quality) {
  Bitmap copy = bitmap;
  copy.SetPixelFormat(PixelFormat::pf24bit);
  const int width = copy.Width();
  const int height = copy.Height();
  const std::size_t row_bytes = 3 * static_cast<std::size_t>(width);
  std::vector<uint8_t> rgb(row_bytes * static_cast<std::size_t>(height));
  for (int y = 0; y < height; ++y) {
    const uint8_t* from = copy.ScanLine(y);
    uint8_t* to = rgb.data() + static_cast<std::size_t>(y) * row_bytes;
    for (std::size_t i = 0; i < row_bytes; i += 3) {
      to[i] = from[i + 2];
      to[i + 1] = from[i + 1];
      to[i + 2] = from[i];
    }
  }
  JpegImage image;
  if (!CompressRgb(rgb.data(), width, height, std::clamp(quality, 1, 100), image.data_)) {
    throw PdfError("JPEG compression failed.");
  }
  image.width_ = width;
  image.height_ = height;
  return image;
}

JpegImage JpegImage::FromData(std::vector<uint8_t> data, int quality) {
  JpegInfo info;
  if (!Decompress(data, info, nullptr)) throw PdfError(kInvalidJpeg);
  JpegImage image;
  if (info.components == 3) {
    image.data_ = std::move(data);
    image.width_ = info.width;
    image.height_ = info.height;
    return image;
  }
  std::vector<uint8_t> rgb;
  if (!Decompress(data, info, &rgb)) throw PdfError(kInvalidJpeg);
  if (!CompressRgb(rgb.data(), info.width, info.height, std::clamp(quality, 1, 100), image.data_)) {
    throw PdfError("JPEG compression failed.");
  }
  image.width_ = info.width;
  image.height_ = info.height;
  return image;
}

JpegImage JpegImage::LoadFromFile(const std::string& path, int quality) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw PdfError("Cannot open file \"" + path + "\".");
  std::vector<uint8_t> data{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  return FromData(std::move(data), quality);
}

Bitmap JpegImage::ToBitmap() const {
  JpegInfo info;
  std::vector<uint8_t> rgb;
  if (data_.empty() || !Decompress(data_, info, &rgb)) throw PdfError(kInvalidJpeg);
  Bitmap bitmap(info.width, info.height, PixelFormat::pf24bit);
  const std::size_t row_bytes = 3 * static_cast<std::size_t>(info.width);
  for (int y = 0; y < info.height; ++y) {
    const uint8_t* from = rgb.data() + static_cast<std::size_t>(y) * row_bytes;
    uint8_t* to = bitmap.ScanLine(y);
    for (std::size_t i = 0; i < row_bytes; i += 3) {
      to[i] = from[i + 2];
      to[i + 1] = from[i + 1];
      to[i + 2] = from[i];
    }
  }
  return bitmap;
}

}  // namespace brevis
