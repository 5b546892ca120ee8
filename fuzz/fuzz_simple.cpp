// The generic readers: plain string, text, wide text, 32-bit value and class id.
// The last byte of the input picks the reader.
#include "FuzzMedium.h"
#include "dragdrop/DragDropFormats.h"

#include <memory>

namespace {

class TPlainString : public dragdrop::TCustomStringClipboardFormat {
public:
  platform::CLIPFORMAT GetClipboardFormat() const override { return 0xC123; }
};
class TWide : public dragdrop::TCustomWideTextClipboardFormat {
public:
  platform::CLIPFORMAT GetClipboardFormat() const override { return 0xC124; }
};

std::unique_ptr<dragdrop::TClipboardFormat> Reader(uint8_t Choice) {
  switch (Choice % 5) {
  case 0:
    return std::make_unique<TPlainString>();
  case 1:
    return std::make_unique<dragdrop::TTextClipboardFormat>();
  case 2:
    return std::make_unique<TWide>();
  case 3:
    return std::make_unique<dragdrop::TPreferredDropEffectClipboardFormat>();
  default:
    return std::make_unique<dragdrop::TTargetCLSIDClipboardFormat>();
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  if (Size == 0)
    return 0;
  std::unique_ptr<dragdrop::TClipboardFormat> format = Reader(Data[Size - 1]);
  fuzzing::FuzzRead(*format, Data, Size - 1);
  return 0;
}
