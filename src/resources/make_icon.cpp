// Draws the Vellumo icon and writes it as a Windows .ico file: a rounded
// square in a teal-to-indigo gradient holding a white sound wave whose bars
// form a "V". Built and run on the build machine; the icon is never
// committed as a binary.
//
//   make_icon <output.ico>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

struct Rgba {
  double r, g, b, a;
};

// Signed distance from (x, y) to a rounded rectangle centred at (cx, cy).
double rounded_box(double x, double y, double cx, double cy, double hw, double hh, double radius) {
  const double qx = std::fabs(x - cx) - hw + radius;
  const double qy = std::fabs(y - cy) - hh + radius;
  const double outside = std::hypot(std::max(qx, 0.0), std::max(qy, 0.0));
  return outside + std::min(std::max(qx, qy), 0.0) - radius;
}

// The colour of the icon at (u, v), both in 0..1, before coverage.
Rgba shade(double u, double v) {
  // Background: a rounded square with a diagonal gradient.
  const double box = rounded_box(u, v, 0.5, 0.5, 0.47, 0.47, 0.2);
  if (box > 0) {
    return {0, 0, 0, 0};
  }
  const double t = std::clamp((u + v) / 2, 0.0, 1.0);
  Rgba colour{0.05 + 0.25 * t, 0.62 - 0.35 * t, 0.66 + 0.18 * t, 1};

  // Seven bars of a sound wave standing on one line; their tops trace a
  // "V": tall at the ends, short in the middle.
  constexpr int kBars = 7;
  const double heights[kBars] = {0.56, 0.44, 0.32, 0.2, 0.32, 0.44, 0.56};
  for (int i = 0; i < kBars; ++i) {
    const double cx = 0.2 + i * 0.1;
    const double top = 0.22 + (0.56 - heights[i]);
    const double bottom = 0.78;
    const double bar = rounded_box(u, v, cx, (top + bottom) / 2, 0.032, (bottom - top) / 2, 0.032);
    if (bar <= 0) {
      return {1, 1, 1, 1};
    }
  }
  return colour;
}

std::vector<std::uint8_t> render(int size) {
  // 4x4 supersampling for smooth edges; BGRA rows, bottom row first.
  constexpr int kSamples = 4;
  std::vector<std::uint8_t> pixels(static_cast<std::size_t>(size) * size * 4);
  for (int y = 0; y < size; ++y) {
    for (int x = 0; x < size; ++x) {
      Rgba sum{0, 0, 0, 0};
      for (int sy = 0; sy < kSamples; ++sy) {
        for (int sx = 0; sx < kSamples; ++sx) {
          const double u = (x + (sx + 0.5) / kSamples) / size;
          const double v = (y + (sy + 0.5) / kSamples) / size;
          const Rgba c = shade(u, v);
          sum.r += c.r * c.a;
          sum.g += c.g * c.a;
          sum.b += c.b * c.a;
          sum.a += c.a;
        }
      }
      const double n = kSamples * kSamples;
      const double a = sum.a / n;
      const auto byte = [](double value) {
        return static_cast<std::uint8_t>(std::lround(std::clamp(value, 0.0, 1.0) * 255));
      };
      std::uint8_t* p = &pixels[(static_cast<std::size_t>(size - 1 - y) * size + x) * 4];
      p[0] = byte(a > 0 ? sum.b / sum.a : 0);
      p[1] = byte(a > 0 ? sum.g / sum.a : 0);
      p[2] = byte(a > 0 ? sum.r / sum.a : 0);
      p[3] = byte(a);
    }
  }
  return pixels;
}

void put16(std::vector<std::uint8_t>& out, unsigned value) {
  out.push_back(value & 0xFF);
  out.push_back((value >> 8) & 0xFF);
}

void put32(std::vector<std::uint8_t>& out, std::uint32_t value) {
  put16(out, value & 0xFFFF);
  put16(out, value >> 16);
}

// One icon image as a device-independent bitmap: header, 32-bit pixels and
// the (all-zero) transparency mask that icons still carry.
std::vector<std::uint8_t> dib(int size) {
  std::vector<std::uint8_t> out;
  put32(out, 40);
  put32(out, size);
  put32(out, size * 2);  // colour and mask together
  put16(out, 1);
  put16(out, 32);
  for (int i = 0; i < 6; ++i) {
    put32(out, 0);
  }
  const auto pixels = render(size);
  out.insert(out.end(), pixels.begin(), pixels.end());
  const int mask_row = ((size + 31) / 32) * 4;
  out.insert(out.end(), static_cast<std::size_t>(mask_row) * size, 0);
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_icon <output.ico>\n");
    return 2;
  }
  const int sizes[] = {16, 24, 32, 48, 64, 256};
  std::vector<std::vector<std::uint8_t>> images;
  for (int size : sizes) {
    images.push_back(dib(size));
  }
  std::vector<std::uint8_t> file;
  put16(file, 0);
  put16(file, 1);  // icon
  put16(file, static_cast<unsigned>(images.size()));
  std::uint32_t offset = 6 + 16 * static_cast<std::uint32_t>(images.size());
  for (std::size_t i = 0; i < images.size(); ++i) {
    file.push_back(sizes[i] == 256 ? 0 : sizes[i]);
    file.push_back(sizes[i] == 256 ? 0 : sizes[i]);
    file.push_back(0);
    file.push_back(0);
    put16(file, 1);
    put16(file, 32);
    put32(file, static_cast<std::uint32_t>(images[i].size()));
    put32(file, offset);
    offset += static_cast<std::uint32_t>(images[i].size());
  }
  for (const auto& image : images) {
    file.insert(file.end(), image.begin(), image.end());
  }
  std::FILE* out = std::fopen(argv[1], "wb");
  if (out == nullptr || std::fwrite(file.data(), 1, file.size(), out) != file.size() ||
      std::fclose(out) != 0) {
    std::perror(argv[1]);
    return 1;
  }
  return 0;
}
