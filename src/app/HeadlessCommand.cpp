#include "app/HeadlessCommand.h"

#include "data/VxDataMgr.h"
#include "export/HeaderFiles.h"

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QImageWriter>
#include <csignal>
#include <new>

namespace {

using namespace layoutexport;

// Built by appends: GCC 12 warns falsely of overlap in a chain of operator+.
std::string Quoted(const std::string& Name) {
  std::string quoted(1, '"');
  quoted.append(ShownName(Name)).push_back('"');
  return quoted;
}

class TBareImage : public TImageControl {
public:
  TBitmap24& Picture() override { return FPicture; }
  void Repaint() override {}

private:
  TBitmap24 FPicture;
};

// The one view that the window's RedrawViews paints for Command.View, with
// the same volume and slice numbers.
void RenderInto(const THeadlessCommand& Command, TVxDataMgr& Manager, TImageControl& Image) {
  const TLayout& layout = Command.Layout;
  Manager.SetParameters(layout.HeaderBytes, layout.VoxelsPerRow, layout.RowsPerSlice,
                        layout.SlicesPerVolume, layout.VoxelType, layout.ByteOrder,
                        Command.IntensityMin, Command.IntensityMax, Command.FlagOverUnder);
  const int32_t next = Command.Slice == INT32_MAX ? Command.Slice : Command.Slice + 1;
  switch (Command.View) {
  case vkSlice:
    return Manager.RenderView(0, Command.Slice, vkSlice, Image);
  case vkNextSlice:
    return Manager.RenderView(0, next, vkNextSlice, Image);
  case vkCrossSlice:
    return Manager.RenderView(0, Command.CrossSliceRow, vkCrossSlice, Image);
  case vkOtherVolume:
    return Manager.RenderView(Command.Volume, Command.Slice, vkOtherVolume, Image);
  }
}

std::string Encoded(const TBitmap24& Bitmap, bool Png, std::string& Why) {
  QImage image(Bitmap.Bits(), Bitmap.Width(), Bitmap.Height(), Bitmap.Stride(),
               QImage::Format_BGR888);
  // 96 dots per inch, as the window's screen has or not: the same view gives
  // the same file wherever it is exported.
  image.setDotsPerMeterX(3780);
  image.setDotsPerMeterY(3780);
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  QImageWriter writer(&buffer, Png ? "png" : "bmp");
  // Qt's BMP writer stores 32-bit RGB images as 24-bit rows, the bitmap's own
  // form; PNG keeps the three bytes of each pixel as they are.
  if (!writer.write(Png ? image.convertToFormat(QImage::Format_RGB888)
                        : image.convertToFormat(QImage::Format_RGB32))) {
    Why = "Cannot encode the picture. " + writer.errorString().toStdString();
    return {};
  }
  return bytes.toStdString();
}

THeadlessResult Failed(const std::string& Why) {
  return {std::string(), Why, 1};
}

// The checks shared by the commands that write: an existing file is kept
// unless asked, and nothing is written that could replace the data file.
std::string OutProblem(const THeadlessCommand& Command) {
  if (!Command.Force && EntryExists(Command.Out))
    return Quoted(Command.Out) + " exists; --force replaces it.";
  return TargetProblem(Command.Out, Command.File);
}

THeadlessResult WriteHeader(const THeadlessCommand& Command) {
  const std::optional<THeaderFormat> format = HeaderFormatOf(Command.Out);
  std::string why = OutProblem(Command);
  if (why.empty() && format)
    why = WriteDetachedHeader(*format, Command.Out, Command.File, Command.Layout);
  if (!why.empty())
    return Failed(why);
  if (format == THeaderFormat::Envi)
    return {std::string(), EnviPlacementNote(Command.Out, Command.File), 0};
  return {};
}

THeadlessResult PrintLayout(const THeadlessCommand& Command) {
  std::string why;
  platform::TCompression compression = platform::TCompression::None;
  const int64_t bytes = DataFileBytes(Command.File, why, &compression);
  if (bytes < 0)
    return Failed(why);
  if (compression != platform::TCompression::None)
    return Failed(Quoted(Command.File) + " is compressed with " +
                  platform::CompressionName(compression) +
                  "; numpy.memmap reads a file only as its bytes lie.");
  const TExtent extent = ExtentOf(Command.Layout, bytes);
  if (!extent.Why.empty())
    return Failed(Quoted(Command.File) + ": " + extent.Why);
  return {NumpyLine(Command.File, Command.Layout, extent) + "\n", std::string(), 0};
}

THeadlessResult ExportView(const THeadlessCommand& Command) {
  std::string why = OutProblem(Command);
  if (!why.empty())
    return Failed(why);
  const std::string bytes = ViewPictureFile(Command, why);
  if (bytes.empty())
    return Failed(why);
  const std::string note = why;
  why = WriteFileAtomically(Command.Out, bytes);
  return why.empty() ? THeadlessResult{std::string(), note, 0} : Failed(why);
}

} // namespace

std::string ViewPictureFile(const THeadlessCommand& Command, std::string& Why) {
  TVxDataMgr manager;
  manager.OpenFile(Command.File);
  if (!manager.IsOpen()) {
    Why = Quoted(Command.File) + ": " + ShownName(manager.ErrorText()) + ".";
    return {};
  }
  TBareImage image;
  RenderInto(Command, manager, image);
  if (!image.Picture().Bits()) {
    Why = "The view has no picture at this layout.";
    return {};
  }
  const bool png = QByteArray::fromStdString(Command.Out).toLower().endsWith(".png");
  const TBitmap24& picture = image.Picture();
  const int step = zoom::LargestFitting(picture.Width(), picture.Height(), Command.ZoomStep);
  if (step == zoom::ActualSize)
    return Encoded(picture, png, Why);
  if (step != Command.ZoomStep)
    Why = "At zoom " + zoom::StepName(Command.ZoomStep) +
          " the picture would pass 2 GiB; it is written at zoom " + zoom::StepName(step) + ".";
  try {
    TBitmap24 zoomed;
    zoom::Zoomed(picture, step, zoomed);
    return Encoded(zoomed, png, Why);
  } catch (const std::bad_alloc&) {
    Why = "Not enough memory for the picture at zoom " + zoom::StepName(step) + ".";
    return {};
  }
}

THeadlessResult RunHeadless(const THeadlessCommand& Command) {
  // A size limit then fails a write with an error, which is reported and
  // leaves no partial file, instead of ending the program in the middle.
  std::signal(SIGXFSZ, SIG_IGN);
  switch (Command.Kind) {
  case THeadlessCommand::WriteHeader:
    return WriteHeader(Command);
  case THeadlessCommand::PrintLayout:
    return PrintLayout(Command);
  case THeadlessCommand::ExportView:
    return ExportView(Command);
  }
  return Failed("Unknown command.");
}
