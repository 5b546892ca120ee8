#include "data/VxDataMgr.h"

#include "data/BackgroundWork.h"
#include "platform/FileStream.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <utility>

namespace {

__extension__ typedef __int128 int128;

// Larger views could not be held in memory together with their bitmaps.
constexpr int64_t MaxViewVoxels = int64_t{1} << 28;

int64_t Saturate(int128 Value) {
  constexpr int64_t lo = std::numeric_limits<int64_t>::min();
  constexpr int64_t hi = std::numeric_limits<int64_t>::max();
  return Value < lo ? lo : (Value > hi ? hi : static_cast<int64_t>(Value));
}

} // namespace

TVxDataMgr& DataMgr = *new TVxDataMgr;

TVxDataMgr::TVxDataMgr() = default;

// The worker goes first: it may still be reading a buffer.
TVxDataMgr::~TVxDataMgr() {
  FAside.reset();
}

void TVxDataMgr::ReadViewAside(TViewKind View, std::function<void()> Read) const {
  StartAlongNow();
  if (!FAside)
    FAside = std::make_unique<TBackgroundWork>();
  FAside->Start(std::move(Read));
  FAsideView = View;
}

void TVxDataMgr::WaitForReadAside() const {
  StartAlongNow();
  if (!FAside)
    return;
  FAside->Wait();
  FAside->Rethrow();
}

void TVxDataMgr::ReadViewAlongRender(TViewKind View,
                                     std::function<void(const TViewAsRead&)> Read) const {
  StartAlongNow();
  FAlong = std::move(Read);
  FAlongView = View;
}

// The read armed for the next render, started on its view's buffer as it is.
std::shared_ptr<TReadProgress> TVxDataMgr::StartAlong() const {
  auto progress = std::make_shared<TReadProgress>();
  const auto view = static_cast<TViewKind>(FAlongView);
  const std::vector<uint8_t>& buffer = FViewBuffer.at(view);
  const TViewAsRead read{buffer.data(), static_cast<int64_t>(buffer.size()), progress};
  if (!FAside)
    FAside = std::make_unique<TBackgroundWork>();
  FAside->Start([along = std::exchange(FAlong, nullptr), read] { along(read); });
  FAsideView = view;
  return progress;
}

// No render took it: it reads what the last render left.
void TVxDataMgr::StartAlongNow() const {
  if (!FAlong)
    return;
  const TViewKind view = static_cast<TViewKind>(FAlongView);
  const int64_t whole =
      static_cast<int64_t>(FViewBuffer.at(view).size()) / BytesPerVoxel[FVoxelType];
  StartAlong()->End(std::min(FViewVoxelCount.at(view), whole));
}

// A failure stays for WaitForReadAside to report.
void TVxDataMgr::WaitForView(TViewKind View) const {
  if (FAside && FAside->Started() && View == FAsideView)
    FAside->Wait();
}

void TVxDataMgr::OpenFile(const std::string& Name, const platform::TIndexProgress& Progress) {
  CloseFile();
  FErrorText.clear();
  FOpenCancelled = false;
  if (!platform::FileExists(Name)) {
    FErrorText = "File does not exist";
    return;
  }
  try {
    FStream = std::make_unique<platform::TFileStream>(Name, Progress);
    FFileName = Name;
  } catch (const platform::EOpenCancelled& error) {
    FErrorText = error.what();
    FOpenCancelled = true;
  } catch (const platform::EFOpenError& error) {
    FErrorText = error.what();
  }
}

int64_t TVxDataMgr::FileSize() const {
  return FStream ? FStream->Size() : -1;
}

platform::TCompression TVxDataMgr::Compression() const {
  return FStream ? FStream->Compression() : platform::TCompression::None;
}

platform::TDecodeState TVxDataMgr::DecodeState() const {
  return FStream ? FStream->DecodeState() : platform::TDecodeState{};
}

void TVxDataMgr::CloseFile() {
  if (FAside)
    FAside->Wait();
  FFileName.clear();
  FStream.reset();
}

void TVxDataMgr::SetParameters(int32_t HeaderBytes, int32_t VoxelsPerRow, int32_t RowsPerSlice,
                               int32_t SlicesPerVolume, TVoxelType VoxelType, TByteOrder ByteOrder,
                               int32_t IntensityMin, int32_t IntensityMax, bool FlagOverUnder) {
  FHeaderBytes = HeaderBytes;
  FDims = {VoxelsPerRow, RowsPerSlice, SlicesPerVolume};
  FStrides[0] = VoxelsPerRow;
  FStrides[1] = Saturate(int128{VoxelsPerRow} * RowsPerSlice);
  FStrides[2] = Saturate(int128{FStrides[1]} * SlicesPerVolume);
  FVoxelType = VoxelType;
  FByteOrder = ByteOrder;
  FIntensityMin = IntensityMin;
  FIntensityMax = IntensityMax;
  FFlagOverUnder = FlagOverUnder;
}

int64_t TVxDataMgr::VoxelIndex(int32_t i0, int32_t i1, int32_t i2, int32_t i3) const {
  return Saturate(int128{i0} + int128{i1} * FStrides[0] + int128{i2} * FStrides[1] +
                  int128{i3} * FStrides[2]);
}

int64_t TVxDataMgr::VoxelFileOffset(int32_t i0, int32_t i1, int32_t i2, int32_t i3) const {
  return Saturate(int128{VoxelIndex(i0, i1, i2, i3)} * BytesPerVoxel[FVoxelType] + FHeaderBytes);
}

int16_t TVxDataMgr::DecodeInt16(int64_t p, const uint8_t* Buffer) const {
  return static_cast<int16_t>(
      voxeldecoder::DecodeVoxel(Buffer, p, vtInt16, FByteOrder).SignedValue);
}

int32_t TVxDataMgr::DecodeInt32(int64_t p, const uint8_t* Buffer) const {
  return static_cast<int32_t>(
      voxeldecoder::DecodeVoxel(Buffer, p, vtInt32, FByteOrder).SignedValue);
}

float TVxDataMgr::DecodeFloat32(int64_t p, const uint8_t* Buffer) const {
  return voxeldecoder::DecodeSingle(Buffer, p, vtFloat32, FByteOrder);
}

double TVxDataMgr::ProbeValue(TViewKind View, int32_t X, int32_t Y) const {
  return ProbeVoxel(View, X, Y).AsDouble();
}

TVoxelValue TVxDataMgr::ProbeVoxel(TViewKind View, int32_t X, int32_t Y) const {
  const int64_t p = int64_t{Y} * FDims[0] + X;
  const int64_t bytesPerVoxel = BytesPerVoxel[FVoxelType];
  const std::vector<uint8_t>& buffer = FViewBuffer.at(View);
  if (p < 0 || p >= FViewVoxelCount.at(View))
    return voxeldecoder::ZeroOf(FVoxelType);
  // After a type change without a new render the old count may reach past the buffer.
  if ((p + 1) * bytesPerVoxel > static_cast<int64_t>(buffer.size()))
    return voxeldecoder::ZeroOf(FVoxelType);
  return voxeldecoder::DecodeVoxel(buffer.data(), p, FVoxelType, FByteOrder);
}

TVxDataMgr::TViewGeometry TVxDataMgr::GeometryOf(TViewKind View) const {
  TViewGeometry geometry;
  geometry.Width = std::max(FDims[0], 0);
  geometry.Height = std::max(View == vkCrossSlice ? FDims[2] : FDims[1], 0);
  const int64_t voxels = int64_t{geometry.Width} * geometry.Height;
  geometry.Bytes = voxels > MaxViewVoxels ? -1 : voxels * BytesPerVoxel[FVoxelType];
  return geometry;
}

bool TVxDataMgr::PrepareBuffer(TViewKind View, int64_t Bytes) {
  std::vector<uint8_t>& buffer = FViewBuffer[View];
  if (static_cast<int64_t>(buffer.size()) >= Bytes)
    return true;
  try {
    // Rounded up so that every voxel of any type starting inside the buffer ends inside it.
    buffer.resize(static_cast<size_t>(std::max(ViewBufferSize, (Bytes + 7) / 8 * 8)));
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

// One positioned read per call: the cross-slice view makes one call per row,
// and a seek before each read doubled its system calls.
int64_t TVxDataMgr::ReadAt(int64_t Offset, uint8_t* Target, int64_t Count) {
  return FStream ? FStream->ReadAt(Offset, Target, Count) : 0;
}

// Clears everything the buffer may still hold past the voxels just read,
// including the bytes of a trailing partial voxel.
void TVxDataMgr::FinishRead(TViewKind View, int64_t BytesRead, int64_t DirtyEnd) {
  const int64_t bytesPerVoxel = BytesPerVoxel[FVoxelType];
  const int64_t whole = BytesRead / bytesPerVoxel * bytesPerVoxel;
  uint8_t* data = FViewBuffer[View].data();
  if (DirtyEnd > whole)
    std::memset(data + whole, 0, static_cast<size_t>(DirtyEnd - whole));
  FViewDirtyBytes[View] = whole;
}

// Paints the rows of a view as soon as their voxels have arrived, while the
// bytes just read are still in the processor's cache: a view read whole and
// painted after would have to come back from memory.
class TVxDataMgr::TPaintAsRead {
public:
  TPaintAsRead(TViewPainter& Painter, const TViewSource& Source, const TIntensityWindow& Window,
               TBitmap24& Bitmap, TValueRange* Range)
      : FPainter(Painter)
      , FSource(Source)
      , FWindow(Window)
      , FBitmap(Bitmap)
      , FRange(Range) {
    const int64_t rowBytes = int64_t{Source.Width} * BytesPerVoxel[Source.Type];
    FPieceRows = static_cast<int32_t>(std::clamp<int64_t>(
        PieceBytes / std::max<int64_t>(rowBytes, 1), 1, std::max(Source.Height, 1)));
    FPainter.Prepare(FSource, FWindow);
  }

  // Count voxels from the start of the view have arrived, and every row they
  // fill is final.
  void Arrived(int64_t Count) {
    if (FSource.Width <= 0)
      return;
    const auto filled =
        static_cast<int32_t>(std::min<int64_t>(Count / FSource.Width, FSource.Height));
    if (filled - FPainted < FPieceRows)
      return;
    FSource.VoxelCount = Count;
    FPainter.PaintRows(FSource, FWindow, FBitmap, FRange, FPainted, filled);
    FPainted = filled;
  }

  // Count is final: the rest of the rows.
  void Finish(int64_t Count) {
    FSource.VoxelCount = Count;
    FPainter.PaintRows(FSource, FWindow, FBitmap, FRange, FPainted, FSource.Height);
    FPainted = FSource.Height;
  }

  // About this many voxel bytes per step: they and their pixels stay in the
  // second-level cache of any current processor.
  static constexpr int64_t PieceBytes = 128 * 1024;

private:
  TViewPainter& FPainter;
  TViewSource FSource;
  const TIntensityWindow& FWindow;
  TBitmap24& FBitmap;
  TValueRange* FRange;
  int32_t FPieceRows = 1;
  int32_t FPainted = 0;
};

// The slice in consecutive positioned reads of whole rows, each painted as it arrives.
void TVxDataMgr::ReadSlice(TViewKind View, int32_t Volume, int32_t Index, int64_t Bytes,
                           TPaintAsRead& Paint, TReadProgress* Progress) {
  const int64_t start = VoxelFileOffset(0, 0, Index, Volume);
  const int64_t bytesPerVoxel = BytesPerVoxel[FVoxelType];
  const int64_t rowBytes = std::max<int64_t>(int64_t{FDims[0]} * bytesPerVoxel, 1);
  // An offset so large that its pieces would overflow is read, or rather not, in one go.
  const int64_t piece = start > std::numeric_limits<int64_t>::max() - Bytes
                            ? Bytes
                            : std::max(rowBytes, TPaintAsRead::PieceBytes / rowBytes * rowBytes);
  uint8_t* data = FViewBuffer[View].data();
  int64_t got = 0;
  while (got < Bytes) {
    const int64_t want = std::min(piece, Bytes - got);
    const int64_t read = ReadAt(start + got, data + got, want);
    got += std::max<int64_t>(read, 0);
    if (read < want)
      break;
    if (Progress)
      Progress->Publish(got / bytesPerVoxel);
    Paint.Arrived(got / bytesPerVoxel);
  }
  FViewVoxelCount[View] = got / bytesPerVoxel;
  FinishRead(View, got, std::max(FViewDirtyBytes[View], got));
}

// Every byte a read does not fill is cleared, but only where an earlier render
// may have left something: clearing the whole view first cost as much as
// painting it.
void TVxDataMgr::ReadCrossSlice(int32_t Volume, int32_t Index, int32_t Width, TPaintAsRead& Paint) {
  const int64_t bytesPerVoxel = BytesPerVoxel[FVoxelType];
  const int64_t rowBytes = int64_t{Width} * bytesPerVoxel;
  uint8_t* data = FViewBuffer[vkCrossSlice].data();
  const int64_t wasDirty = FViewDirtyBytes[vkCrossSlice];
  int64_t count = 0;
  int64_t dirty = 0;
  for (int32_t k = 0; k < FDims[2]; ++k) {
    uint8_t* target = data + k * rowBytes;
    const int64_t got =
        std::max<int64_t>(ReadAt(VoxelFileOffset(0, Index, k, Volume), target, rowBytes), 0);
    const int64_t whole = got / bytesPerVoxel * bytesPerVoxel;
    // The trailing part of a voxel just read, and what an earlier render left.
    const int64_t clearEnd = std::max(got, std::min(rowBytes, wasDirty - k * rowBytes));
    if (clearEnd > whole)
      std::memset(target + whole, 0, static_cast<size_t>(clearEnd - whole));
    count += got / bytesPerVoxel;
    if (whole > 0)
      dirty = k * rowBytes + whole;
    // A row short of its voxels leaves the rows after it unsettled: a later
    // row's voxels still count towards the positions painted as in the file.
    if (count == int64_t{k + 1} * Width)
      Paint.Arrived(count);
  }
  const int64_t viewEnd = int64_t{std::max(FDims[2], 0)} * rowBytes;
  if (wasDirty > viewEnd)
    std::memset(data + viewEnd, 0, static_cast<size_t>(wasDirty - viewEnd));
  FViewVoxelCount[vkCrossSlice] = count;
  FViewDirtyBytes[vkCrossSlice] = dirty;
}

namespace {

// Ends a read beside a render with the view's count, however the render ends.
class TEndAlong {
public:
  explicit TEndAlong(const int64_t& Count)
      : FCount(Count) {}
  ~TEndAlong() {
    if (Progress)
      Progress->End(FCount);
  }
  TEndAlong(const TEndAlong&) = delete;
  TEndAlong& operator=(const TEndAlong&) = delete;

  std::shared_ptr<TReadProgress> Progress;

private:
  const int64_t& FCount;
};

} // namespace

void TVxDataMgr::RenderView(int32_t Volume, int32_t Index, TViewKind View, TImageControl& Image) {
  WaitForView(View);
  TValueRange range = EmptySliceRange;
  if (View == vkSlice) {
    FSliceMin = range.Min;
    FSliceMax = range.Max;
  }
  FViewVoxelCount[View] = 0;
  const TViewGeometry geometry = GeometryOf(View);
  TBitmap24& bitmap = Image.Picture();
  TEndAlong along(FViewVoxelCount[View]);
  try {
    if (geometry.Bytes < 0) {
      bitmap.SetSize(0, 0);
    } else {
      bitmap.SetSize(geometry.Width, geometry.Height);
      if (!PrepareBuffer(View, geometry.Bytes)) {
        TViewPainter::Fill(bitmap, colour::Yellow);
      } else {
        const TViewSource source{
            FViewBuffer[View].data(), 0, FVoxelType, FByteOrder, geometry.Width, geometry.Height};
        const TIntensityWindow window(FIntensityMin, FIntensityMax, FFlagOverUnder);
        TPaintAsRead paint(FPainter, source, window, bitmap, View == vkSlice ? &range : nullptr);
        if (FAlong && FAlongView == View)
          along.Progress = StartAlong();
        if (View == vkCrossSlice)
          ReadCrossSlice(Volume, Index, geometry.Width, paint);
        else
          ReadSlice(View, Volume, Index, geometry.Bytes, paint, along.Progress.get());
        paint.Finish(FViewVoxelCount[View]);
        if (View == vkSlice) {
          FSliceMin = range.Min;
          FSliceMax = range.Max;
        }
      }
    }
  } catch (const std::bad_alloc&) {
    TViewPainter::Fill(bitmap, colour::Yellow);
  }
  if (along.Progress)
    std::exchange(along.Progress, nullptr)->End(FViewVoxelCount[View]);
  Image.Repaint();
}
