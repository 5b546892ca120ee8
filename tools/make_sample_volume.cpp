// Writes a synthetic head phantom, so that a newcomer has a real volume file to
// open: two time points of 64 axial slices of 256 x 256 signed 16-bit
// little-endian voxels, behind a 352-byte text header.
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

namespace {

constexpr int32_t VoxelsPerRow = 256;
constexpr int32_t RowsPerSlice = 256;
constexpr int32_t SlicesPerVolume = 64;
constexpr int32_t Volumes = 2;
constexpr int32_t HeaderBytes = 352;

// An ellipsoid in coordinates where the volume spans -1..1 on every axis.
struct TEllipsoid {
  double X, Y, Z;    // centre
  double RX, RY, RZ; // semi-axes
  int16_t Value;

  bool Contains(double x, double y, double z) const {
    const double dx = (x - X) / RX, dy = (y - Y) / RY, dz = (z - Z) / RZ;
    return dx * dx + dy * dy + dz * dz <= 1.0;
  }
};

// Painted in order, each over the ones before: scalp, skull, grey and white
// matter, ventricles, eyes, and a small bright lesion. The second time point
// has the lesion moved and enhanced and the ventricles widened, so the two
// volumes differ where one looks for it.
std::vector<TEllipsoid> Anatomy(int32_t volume) {
  const bool later = volume > 0;
  const double ventricleWidth = later ? 0.09 : 0.06;
  return {
      {0.0, 0.0, 0.0, 0.80, 0.95, 0.98, 800},
      {0.0, 0.0, 0.0, 0.75, 0.90, 0.93, 1800},
      {0.0, 0.02, 0.0, 0.70, 0.85, 0.88, 700},
      {0.0, 0.04, 0.0, 0.56, 0.70, 0.72, 900},
      {-0.12, -0.05, 0.05, ventricleWidth, 0.28, 0.35, 200},
      {0.12, -0.05, 0.05, ventricleWidth, 0.28, 0.35, 200},
      {-0.30, -0.66, -0.45, 0.11, 0.09, 0.15, 350},
      {0.30, -0.66, -0.45, 0.11, 0.09, 0.15, 350},
      {later ? 0.38 : 0.30, 0.35, 0.30, 0.09, 0.09, 0.15,
       static_cast<int16_t>(later ? 1400 : 1100)},
  };
}

// A little texture that is the same on every run: a hash of the position.
int32_t Noise(int32_t x, int32_t y, int32_t z) {
  uint32_t h = static_cast<uint32_t>(x) * 73856093u ^ static_cast<uint32_t>(y) * 19349663u ^
               static_cast<uint32_t>(z) * 83492791u;
  h ^= h >> 13;
  h *= 0x5bd1e995u;
  h ^= h >> 15;
  return static_cast<int32_t>(h % 41) - 20;
}

int16_t VoxelValue(const std::vector<TEllipsoid>& anatomy, int32_t x, int32_t y, int32_t z) {
  // Voxel centres, with slice 0 at the bottom of the head.
  const double px = (x + 0.5) / VoxelsPerRow * 2.0 - 1.0;
  const double py = (y + 0.5) / RowsPerSlice * 2.0 - 1.0;
  const double pz = (z + 0.5) / SlicesPerVolume * 2.0 - 1.0;
  int32_t value = 0;
  for (const TEllipsoid& shape : anatomy)
    if (shape.Contains(px, py, pz))
      value = shape.Value;
  return static_cast<int16_t>(value == 0 ? 0 : value + Noise(x, y, z));
}

std::string Header() {
  std::string header = "Zandrel sample volume: synthetic head phantom\n"
                       "header bytes 352, voxels per row 256, rows per slice 256,\n"
                       "slices per volume 64, volumes 2, voxel type int16, little-endian\n";
  header.resize(HeaderBytes, '\0');
  return header;
}

// Little-endian by construction, whatever the host's byte order.
std::vector<char> SliceBytes(const std::vector<TEllipsoid>& anatomy, int32_t z) {
  std::vector<char> bytes;
  bytes.reserve(static_cast<size_t>(VoxelsPerRow) * RowsPerSlice * 2);
  for (int32_t y = 0; y < RowsPerSlice; ++y)
    for (int32_t x = 0; x < VoxelsPerRow; ++x) {
      const auto bits = static_cast<uint16_t>(VoxelValue(anatomy, x, y, z));
      bytes.push_back(static_cast<char>(bits & 0xFF));
      bytes.push_back(static_cast<char>(bits >> 8));
    }
  return bytes;
}

} // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: make_sample_volume OUTPUT_PATH\n";
    return 2;
  }
  const std::string path = argv[1];
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  const std::string header = Header();
  out.write(header.data(), static_cast<std::streamsize>(header.size()));
  for (int32_t volume = 0; volume < Volumes && out; ++volume) {
    const std::vector<TEllipsoid> anatomy = Anatomy(volume);
    for (int32_t z = 0; z < SlicesPerVolume && out; ++z) {
      const std::vector<char> slice = SliceBytes(anatomy, z);
      out.write(slice.data(), static_cast<std::streamsize>(slice.size()));
    }
  }
  out.close();
  if (!out) {
    std::cerr << "make_sample_volume: cannot write " << path << '\n';
    std::remove(path.c_str());
    return 1;
  }
  return 0;
}
