// PageSkew: the projection-profile measure of skew (the rows of ink, projected along the right
// angle, give the most uneven histogram), on a sample of every fourth pixel each way.
#include "ocr/neural/page_skew.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <utility>
#include <vector>

namespace brevis::neural {

namespace {

constexpr int kSample = 4;

double Radians(double degrees) { return degrees * std::numbers::pi / 180.0; }

// How unevenly the ink falls into rows along slope tan(degrees): the sum of the squared counts.
double Sharpness(const std::vector<std::pair<int, int>>& ink, double degrees, int rows) {
  const double slope = std::tan(Radians(degrees));
  const auto margin = static_cast<std::size_t>(rows);
  std::vector<int> counts(3 * margin + 1, 0);
  for (const auto& [x, y] : ink) {
    const auto row = static_cast<long>(std::lround(y - x * slope)) + rows;
    if (row >= 0 && static_cast<std::size_t>(row) < counts.size()) {
      ++counts[static_cast<std::size_t>(row)];
    }
  }
  double sum = 0;
  for (const int count : counts) sum += static_cast<double>(count) * count;
  return sum;
}

}  // namespace

double SkewAngle(const OneBitImage& page) {
  std::vector<std::pair<int, int>> ink;
  for (int y = 0; y < page.Height; y += kSample) {
    for (int x = 0; x < page.Width; x += kSample) {
      if (page.Black(x, y)) ink.emplace_back(x / kSample, y / kSample);
    }
  }
  if (ink.empty()) return 0;
  const int rows = (page.Height + kSample - 1) / kSample;
  // Half a degree apart first, then tenths around the best.
  double best = 0;
  double sharpest = Sharpness(ink, 0, rows);
  for (double degrees = -kLargestSkew; degrees <= kLargestSkew + 1e-9; degrees += 0.5) {
    const double sharpness = Sharpness(ink, degrees, rows);
    if (sharpness > sharpest) {
      sharpest = sharpness;
      best = degrees;
    }
  }
  const double coarse = best;
  for (double degrees = coarse - 0.4; degrees <= coarse + 0.4 + 1e-9; degrees += 0.1) {
    if (std::abs(degrees) > kLargestSkew + 1e-9) continue;
    const double sharpness = Sharpness(ink, degrees, rows);
    if (sharpness > sharpest) {
      sharpest = sharpness;
      best = degrees;
    }
  }
  return std::round(best * 10.0) / 10.0;
}

OneBitImage Levelled(const OneBitImage& page, double degrees) {
  OneBitImage level(page.Width, page.Height);
  level.Dpi = page.Dpi;
  const double c = std::cos(Radians(degrees)), s = std::sin(Radians(degrees));
  const double cx = page.Width / 2.0, cy = page.Height / 2.0;
  for (int v = 0; v < page.Height; ++v) {
    uint8_t* row = level.Rows.data() + static_cast<std::size_t>(v) * level.Stride;
    const double dv = v + 0.5 - cy;
    for (int u = 0; u < page.Width; ++u) {
      // The page pixel that this one of the level page shows: turned back by the skew.
      const double du = u + 0.5 - cx;
      const auto x = static_cast<int>(std::floor(cx + du * c - dv * s));
      const auto y = static_cast<int>(std::floor(cy + du * s + dv * c));
      if (x >= 0 && x < page.Width && y >= 0 && y < page.Height && page.Black(x, y)) {
        row[u >> 3] = static_cast<uint8_t>(row[u >> 3] & ~(0x80 >> (u & 7)));
      }
    }
  }
  return level;
}

TextBox OnPage(const TextBox& box, double degrees, int width, int height) {
  const double c = std::cos(Radians(degrees)), s = std::sin(Radians(degrees));
  const double cx = width / 2.0, cy = height / 2.0;
  double x0 = width, y0 = height, x1 = 0, y1 = 0;
  for (const int u : {box.X0, box.X1}) {
    for (const int v : {box.Y0, box.Y1}) {
      const double du = u - cx, dv = v - cy;
      const double x = cx + du * c - dv * s, y = cy + du * s + dv * c;
      x0 = std::min(x0, x);
      y0 = std::min(y0, y);
      x1 = std::max(x1, x);
      y1 = std::max(y1, y);
    }
  }
  return {std::clamp(static_cast<int>(std::floor(x0)), 0, width),
          std::clamp(static_cast<int>(std::floor(y0)), 0, height),
          std::clamp(static_cast<int>(std::ceil(x1)), 0, width),
          std::clamp(static_cast<int>(std::ceil(y1)), 0, height)};
}

}  // namespace brevis::neural
