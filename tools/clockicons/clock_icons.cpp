// clock_icons OUTDIR: draws the running-clock pictures RELOJ01.ICO ...
// RELOJ17.ICO that the import windows show while they work: a clock face
// with its hand one seventeenth of a turn further round in each picture.
// Each file is a Windows icon holding one 32x32 picture of 32-bit colour
// (with its transparency mask), so any icon reader shows it.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr int kSize = 32;
constexpr int kFrames = 17;
constexpr int kSamples = 4;  // per side of a pixel, for smooth edges

struct Rgba {
  double r = 0, g = 0, b = 0, a = 0;
};

// Distance from p to the segment a-b.
double ToSegment(double px, double py, double ax, double ay, double bx, double by) {
  const double dx = bx - ax, dy = by - ay;
  double t = ((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy);
  t = std::fmax(0, std::fmin(1, t));
  return std::hypot(px - ax - t * dx, py - ay - t * dy);
}

// The colour at one point of picture `frame` (0-based).
Rgba At(double x, double y, int frame) {
  const double cx = kSize / 2.0, cy = kSize / 2.0, r = std::hypot(x - cx, y - cy);
  constexpr double kFace = 13.5, kRim = 2.0;
  if (r > kFace) return {};
  // The hand, from the centre towards the rim; 12 o'clock in picture 1.
  const double angle = 2 * M_PI * frame / kFrames;
  const double hx = cx + 10 * std::sin(angle), hy = cy - 10 * std::cos(angle);
  if (ToSegment(x, y, cx, cy, hx, hy) < 1.2 || r < 1.8) return {0.05, 0.05, 0.05, 1};
  // Marks at 12, 3, 6 and 9.
  for (int q = 0; q < 4; ++q) {
    const double a = M_PI / 2 * q, sx = std::sin(a), sy = -std::cos(a);
    if (ToSegment(x, y, cx + 9 * sx, cy + 9 * sy, cx + 11 * sx, cy + 11 * sy) < 0.8)
      return {0.3, 0.3, 0.3, 1};
  }
  if (r > kFace - kRim) return {0.15, 0.3, 0.6, 1};  // blue rim
  return {1, 1, 1, 1};
}

void Put16(std::vector<uint8_t>* out, uint16_t v) {
  out->push_back(uint8_t(v));
  out->push_back(uint8_t(v >> 8));
}
void Put32(std::vector<uint8_t>* out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out->push_back(uint8_t(v >> (8 * i)));
}

std::vector<uint8_t> Icon(int frame) {
  const uint32_t pixels = kSize * kSize * 4, mask = kSize * (kSize / 8);
  const uint32_t image = 40 + pixels + mask;
  std::vector<uint8_t> out;
  // Icon directory: one picture.
  Put16(&out, 0);
  Put16(&out, 1);
  Put16(&out, 1);
  out.push_back(kSize);
  out.push_back(kSize);
  out.push_back(0);  // no palette
  out.push_back(0);
  Put16(&out, 1);   // planes
  Put16(&out, 32);  // bits per pixel
  Put32(&out, image);
  Put32(&out, 6 + 16);
  // The picture: a bitmap header (height counts the mask too), the colours
  // bottom row first (blue, green, red, alpha), then the mask.
  Put32(&out, 40);
  Put32(&out, kSize);
  Put32(&out, kSize * 2);
  Put16(&out, 1);
  Put16(&out, 32);
  for (int i = 0; i < 6; ++i) Put32(&out, i == 1 ? pixels + mask : 0);
  std::vector<bool> clear(kSize * kSize);
  for (int y = kSize - 1; y >= 0; --y) {
    for (int x = 0; x < kSize; ++x) {
      Rgba sum;
      for (int sy = 0; sy < kSamples; ++sy) {
        for (int sx = 0; sx < kSamples; ++sx) {
          const Rgba c = At(x + (sx + 0.5) / kSamples, y + (sy + 0.5) / kSamples, frame);
          sum.r += c.r * c.a, sum.g += c.g * c.a, sum.b += c.b * c.a, sum.a += c.a;
        }
      }
      const double a = sum.a / (kSamples * kSamples);
      auto channel = [&](double v) { return uint8_t(a > 0 ? std::lround(255 * v / sum.a) : 0); };
      out.push_back(channel(sum.b));
      out.push_back(channel(sum.g));
      out.push_back(channel(sum.r));
      out.push_back(uint8_t(std::lround(255 * a)));
      clear[size_t(y * kSize + x)] = a == 0;
    }
  }
  for (int y = kSize - 1; y >= 0; --y) {
    for (int x = 0; x < kSize; x += 8) {
      uint8_t bits = 0;
      for (int b = 0; b < 8; ++b)
        if (clear[size_t(y * kSize + x + b)]) bits |= uint8_t(0x80 >> b);
      out.push_back(bits);
    }
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: clock_icons OUTDIR\n");
    return 2;
  }
  for (int n = 1; n <= kFrames; ++n) {
    char name[32];
    std::snprintf(name, sizeof name, "/RELOJ%02d.ICO", n);
    const std::string path = std::string(argv[1]) + name;
    const std::vector<uint8_t> bytes = Icon(n - 1);
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size() ||
        std::fclose(f) != 0) {
      std::fprintf(stderr, "clock_icons: cannot write %s\n", path.c_str());
      return 1;
    }
  }
  return 0;
}
