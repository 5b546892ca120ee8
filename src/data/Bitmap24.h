#pragma once

#include <cstdint>
#include <vector>

// A device-independent 24-bit bitmap: rows top to bottom, each pixel the bytes
// blue, green, red, each row padded to a multiple of 4 bytes.
class TBitmap24 {
public:
  // Negative sizes count as 0. Keeps its storage when it shrinks so that
  // repeated renders of one view allocate nothing. Throws std::bad_alloc
  // (leaving an empty bitmap) when the storage cannot be had.
  void SetSize(int32_t Width, int32_t Height);
  int32_t Width() const { return FWidth; }
  int32_t Height() const { return FHeight; }
  int32_t Stride() const { return FStride; }
  uint8_t* ScanLine(int32_t Row) { return FPixels.data() + static_cast<int64_t>(Row) * FStride; }
  const uint8_t* ScanLine(int32_t Row) const {
    return FPixels.data() + static_cast<int64_t>(Row) * FStride;
  }
  // Address of row 0, or null while the bitmap is empty; stable until the next SetSize.
  const uint8_t* Bits() const { return FHeight > 0 && FWidth > 0 ? FPixels.data() : nullptr; }

  static int32_t StrideFor(int32_t Width);

private:
  int32_t FWidth = 0;
  int32_t FHeight = 0;
  int32_t FStride = 0;
  std::vector<uint8_t> FPixels;
};

// What RenderView needs of an image control.
class TImageControl {
public:
  virtual TBitmap24& Picture() = 0;
  virtual void Repaint() = 0;

protected:
  ~TImageControl() = default;
};
