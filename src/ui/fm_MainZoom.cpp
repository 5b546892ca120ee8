// Zooming the views: the four images show their 1:1 pictures at one common
// step, and a change of step keeps the point under the pointer (or at the
// centre of the view area) in place.
#include "data/VxDataMgr.h"
#include "data/Zoom.h"
#include "ui/ImageWidget.h"
#include "ui/fm_Main.h"

#include <QScrollArea>
#include <QScrollBar>
#include <QStyle>
#include <algorithm>
#include <cmath>

namespace {

// One notch of an ordinary wheel.
constexpr int WheelNotch = 120;

} // namespace

void Tfm_Main::SetZoomStep(int Step) {
  FZoomStep = zoom::ClampedStep(Step);
  LayoutViews();
  ScrollBox_Bottom->horizontalScrollBar()->setValue(0);
  ScrollBox_Bottom->verticalScrollBar()->setValue(0);
}

void Tfm_Main::ZoomAboutCentre(int Step) {
  const QPoint centre = ScrollBox_Bottom->viewport()->rect().center();
  const TImageWidget* first = ViewImages[vkSlice];
  ZoomAbout(Step, first, first->mapFrom(ScrollBox_Bottom->viewport(), QPointF(centre)));
}

// The centre of the pixel under the pointer, in voxels, lands in the pixel
// under the pointer again, so a block that grows or shrinks stays put.
void Tfm_Main::ZoomAbout(int Step, const TImageWidget* Image, QPointF At) {
  const QPointF pixel(std::floor(At.x()), std::floor(At.y()));
  const QPointF onScreen = Image->mapTo(ScrollBox_Bottom->viewport(), pixel);
  const zoom::TZoomStep before = zoom::ZoomSteps[Image->ZoomStep()];
  const QPointF voxel = (pixel + QPointF(0.5, 0.5)) * before.Down / before.Up;
  FZoomStep = zoom::ClampedStep(Step);
  LayoutViews();
  const zoom::TZoomStep after = zoom::ZoomSteps[FZoomStep];
  const QPointF there = Image->mapTo(ScrollContent, voxel * after.Up / after.Down);
  ScrollBox_Bottom->horizontalScrollBar()->setValue(
      static_cast<int>(std::floor(there.x() - onScreen.x())));
  ScrollBox_Bottom->verticalScrollBar()->setValue(
      static_cast<int>(std::floor(there.y() - onScreen.y())));
}

void Tfm_Main::mi_ZoomInClick() {
  ZoomAboutCentre(zoom::StepIn(FZoomStep));
}

void Tfm_Main::mi_ZoomOutClick() {
  ZoomAboutCentre(zoom::StepOut(FZoomStep));
}

void Tfm_Main::mi_ActualSizeClick() {
  ZoomAboutCentre(zoom::ActualSize);
}

// The largest step at which the first view's panel fits the view area, even
// with both scroll bars shown; the smallest step when none does.
int Tfm_Main::FittingStep() const {
  const int bar =
      ScrollBox_Bottom->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, ScrollBox_Bottom);
  const QSize room = ScrollBox_Bottom->size() - QSize(bar, bar);
  for (int step = zoom::ZoomStepCount - 1; step > 0; --step) {
    const QSize panel = PanelAround(zoom::ZoomedLength(FDataMgr.Dims(0), step),
                                    zoom::ZoomedLength(FDataMgr.Dims(1), step));
    if (panel.width() <= room.width() && panel.height() <= room.height())
      return step;
  }
  return 0;
}

void Tfm_Main::mi_ZoomFitClick() {
  SetZoomStep(FittingStep());
}

void Tfm_Main::ImageWheelZoom(TImageWidget* Sender, int Delta, QPointF At) {
  FWheelRest += Delta;
  const int notches = FWheelRest / WheelNotch;
  FWheelRest -= notches * WheelNotch;
  if (notches != 0)
    ZoomAbout(zoom::ClampedStep(FZoomStep + notches), Sender, At);
}
