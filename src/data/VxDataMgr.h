#pragma once

#include "data/Bitmap24.h"
#include "data/ReadProgress.h"
#include "data/ViewPainter.h"
#include "data/VoxelDecoder.h"
#include "data/VoxelTypes.h"
#include "platform/Decompress.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace platform {
class TFileStream;
}
class TBackgroundWork;

// The one object that knows the volume file: the open file, the layout and
// display parameters, and one buffer of raw file bytes per view.
//
// Voxel numbers, byte offsets and strides are 64-bit: files beyond 2 GiB and
// dimensions whose products overflow 32 bits must still address the right bytes.
class TVxDataMgr {
public:
  // Each view buffer starts this large and grows to the largest view rendered.
  static constexpr int64_t ViewBufferSize = 4'194'304;

  TVxDataMgr();
  ~TVxDataMgr();
  TVxDataMgr(const TVxDataMgr&) = delete;
  TVxDataMgr& operator=(const TVxDataMgr&) = delete;

  // Progress is told how far reading a compressed file through has got, and may
  // cancel it; a cancelled open leaves no file open, as a failed one does.
  void OpenFile(const std::string& Name, const platform::TIndexProgress& Progress = {});
  void CloseFile();
  void SetParameters(int32_t HeaderBytes, int32_t VoxelsPerRow, int32_t RowsPerSlice,
                     int32_t SlicesPerVolume, TVoxelType VoxelType, TByteOrder ByteOrder,
                     int32_t IntensityMin, int32_t IntensityMax, bool FlagOverUnder);

  int32_t Dims(int i) const { return FDims.at(i); }
  int64_t Strides(int i) const { return FStrides.at(i); }
  int64_t VoxelIndex(int32_t i0, int32_t i1, int32_t i2, int32_t i3) const;
  int64_t VoxelFileOffset(int32_t i0, int32_t i1, int32_t i2, int32_t i3) const;

  void RenderView(int32_t Volume, int32_t Index, TViewKind View, TImageControl& Image);
  double ProbeValue(TViewKind View, int32_t X, int32_t Y) const;
  // The same voxel exactly as stored, for the readout: 64-bit integers lose
  // nothing on the way.
  TVoxelValue ProbeVoxel(TViewKind View, int32_t X, int32_t Y) const;

  int16_t DecodeInt16(int64_t p, const uint8_t* Buffer) const;
  int32_t DecodeInt32(int64_t p, const uint8_t* Buffer) const;
  float DecodeFloat32(int64_t p, const uint8_t* Buffer) const;

  const std::string& FileName() const { return FFileName; }
  const std::string& ErrorText() const { return FErrorText; }
  bool IsOpen() const { return FStream != nullptr; }
  bool OpenCancelled() const { return FOpenCancelled; }
  // What the views read: the decompressed bytes of a compressed file.
  int64_t FileSize() const;
  platform::TCompression Compression() const;
  platform::TDecodeState DecodeState() const;
  int32_t HeaderBytes() const { return FHeaderBytes; }
  TVoxelType VoxelType() const { return FVoxelType; }
  TByteOrder ByteOrder() const { return FByteOrder; }
  int32_t IntensityMin() const { return FIntensityMin; }
  int32_t IntensityMax() const { return FIntensityMax; }
  bool FlagOverUnder() const { return FFlagOverUnder; }
  float SliceMin() const { return FSliceMin; }
  float SliceMax() const { return FSliceMax; }
  int64_t ViewVoxelCount(TViewKind View) const { return FViewVoxelCount.at(View); }
  // The raw bytes of a view's buffer; every byte past the voxels read is zero.
  const std::vector<uint8_t>& ViewBuffer(TViewKind View) const { return FViewBuffer.at(View); }

  // Runs Read on a worker thread while this one goes on; Read may read the
  // view's buffer as ViewBuffer gives it now, and nothing else of this
  // object. Until Read has returned, nothing writes or frees that buffer:
  // rendering the view again, opening or closing a file, the next read aside
  // and the destructor wait for it first.
  void ReadViewAside(TViewKind View, std::function<void()> Read) const;
  // Waits for the read aside started last, and throws what it threw.
  void WaitForReadAside() const;

  // A view's buffer as a render fills it: its first Progress voxels are final.
  struct TViewAsRead {
    const uint8_t* Bytes = nullptr;
    int64_t Size = 0; // bytes of the buffer
    std::shared_ptr<const TReadProgress> Progress;
  };
  // Runs Read as a read aside that starts with the next render of View, as
  // soon as its buffer is ready, and reads each piece the render makes final
  // while it is still in the cache. The render writes only past the voxels
  // it has told final; after it, the buffer stays as for ReadViewAside. If
  // another read aside or the wait for one comes first, Read starts then,
  // on the buffer as the last render left it.
  void ReadViewAlongRender(TViewKind View, std::function<void(const TViewAsRead&)> Read) const;

private:
  struct TViewGeometry {
    int32_t Width = 0;
    int32_t Height = 0;
    int64_t Bytes = 0; // Width x Height voxels, or -1 when that cannot be addressed
  };
  TViewGeometry GeometryOf(TViewKind View) const;
  bool PrepareBuffer(TViewKind View, int64_t Bytes);
  class TPaintAsRead;
  void ReadSlice(TViewKind View, int32_t Volume, int32_t Index, int64_t Bytes, TPaintAsRead& Paint,
                 TReadProgress* Progress);
  void ReadCrossSlice(int32_t Volume, int32_t Index, int32_t Width, TPaintAsRead& Paint);
  int64_t ReadAt(int64_t Offset, uint8_t* Target, int64_t Count);
  void FinishRead(TViewKind View, int64_t BytesRead, int64_t DirtyEnd);

  std::string FFileName;
  std::unique_ptr<platform::TFileStream> FStream;
  std::string FErrorText;
  bool FOpenCancelled = false;
  int32_t FHeaderBytes = 0;
  std::array<int32_t, 3> FDims{256, 256, 256};
  std::array<int64_t, 3> FStrides{};
  TVoxelType FVoxelType = vtByte;
  TByteOrder FByteOrder = boLittleEndian;
  int32_t FIntensityMin = 0;
  int32_t FIntensityMax = 0;
  float FSliceMin = 0.0f;
  float FSliceMax = 0.0f;
  std::array<std::vector<uint8_t>, ViewKindCount> FViewBuffer;
  // Bytes of each buffer that may be non-zero; lets a render clear only what it must.
  std::array<int64_t, ViewKindCount> FViewDirtyBytes{};
  std::array<int64_t, ViewKindCount> FViewVoxelCount{};
  bool FFlagOverUnder = false;
  TViewPainter FPainter;
  // The worker of the reads aside and the view it reads, made with the first.
  mutable std::unique_ptr<TBackgroundWork> FAside;
  mutable int FAsideView = -1;
  // The read waiting for the next render of FAlongView.
  mutable std::function<void(const TViewAsRead&)> FAlong;
  mutable int FAlongView = -1;
  void WaitForView(TViewKind View) const;
  std::shared_ptr<TReadProgress> StartAlong() const;
  void StartAlongNow() const;
};

// The single data manager of the program; created before the main window and never freed.
extern TVxDataMgr& DataMgr;
