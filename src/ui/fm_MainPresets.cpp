// The intensity window from presets by voxel type, or from the range that the
// last redraw found in the selected slice. Both only write the two edits; their
// change handler pushes the values and schedules the redraw.
#include "data/IntensityWindow.h"
#include "data/VxDataMgr.h"
#include "ui/fm_Main.h"

#include <QAction>
#include <QLineEdit>
#include <cmath>

namespace {

struct TPreset {
  const char* Item;
  int32_t Window[VoxelTypeCount][2]; // by TVoxelType: minimum, maximum
};

// The edits hold 32-bit values, so the wider types' ranges stop at their limits.
constexpr TPreset Presets[] = {
    {"pi_IR_Full",
     {{0, 255},
      {-32768, 32767},
      {INT32_MIN, INT32_MAX},
      {-10000, 10000},
      {0, 65535},
      {-128, 127},
      {0, INT32_MAX},
      {INT32_MIN, INT32_MAX},
      {0, INT32_MAX},
      {-65504, 65504},
      {-10000, 10000}}},
    {"pi_IR_Pos",
     {{0, 255},
      {0, 32767},
      {0, INT32_MAX},
      {0, 10000},
      {0, 65535},
      {0, 127},
      {0, INT32_MAX},
      {0, INT32_MAX},
      {0, INT32_MAX},
      {0, 65504},
      {0, 10000}}},
    {"pi_IR_0to1",
     {{0, 1}, {0, 1}, {0, 1}, {0, 1}, {0, 1}, {0, 1}, {0, 1}, {0, 1}, {0, 1}, {0, 1}, {0, 1}}},
    {"pi_IR_m1to1",
     {{0, 1},
      {-1, 1},
      {-1, 1},
      {-1, 1},
      {0, 1},
      {-1, 1},
      {0, 1},
      {-1, 1},
      {0, 1},
      {-1, 1},
      {-1, 1}}},
    {"pi_IR_0to255",
     {{0, 255},
      {0, 255},
      {0, 255},
      {0, 255},
      {0, 255},
      {0, 127},
      {0, 255},
      {0, 255},
      {0, 255},
      {0, 255},
      {0, 255}}},
    {"pi_IR_0to10000",
     {{0, 255},
      {0, 10000},
      {0, 10000},
      {0, 10000},
      {0, 10000},
      {0, 127},
      {0, 10000},
      {0, 10000},
      {0, 10000},
      {0, 10000},
      {0, 10000}}},
};

} // namespace

// A slice bound as a window end: the 32-bit limits beyond them (a single of
// 2^31 or more is above INT32_MAX), otherwise rounded half to even.
int32_t WindowEndOf(float Value) {
  if (Value > 2147483647.0)
    return INT32_MAX;
  if (Value < -2147483647.0)
    return INT32_MIN;
  return static_cast<int32_t>(RoundHalfEven(Value));
}

void Tfm_Main::pi_IR_Click(QAction* Sender) {
  if (Sender->objectName() == QLatin1String("pi_IR_Selected")) {
    bt_UseIntensityClick();
    return;
  }
  for (const TPreset& preset : Presets) {
    if (Sender->objectName() != QLatin1String(preset.Item))
      continue;
    const auto* window = preset.Window[FDataMgr.VoxelType()];
    ed_IntensityMin->setText(QString::number(window[0]));
    ed_IntensityMax->setText(QString::number(window[1]));
  }
}

void Tfm_Main::bt_UseIntensityClick() {
  const int32_t minimum = WindowEndOf(FDataMgr.SliceMin());
  const int32_t maximum = WindowEndOf(FDataMgr.SliceMax());
  ed_IntensityMin->setText(QString::number(minimum));
  ed_IntensityMax->setText(QString::number(maximum));
}
