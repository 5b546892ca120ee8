// The histogram window that the View menu opens.
#include "data/VxDataMgr.h"
#include "ui/fm_Histogram.h"
#include "ui/fm_Main.h"

// Dragged lines and the percentile window reach the intensity edits as typed
// text, and every push of the parameters moves the lines to what was accepted.
void Tfm_Main::BuildHistogramWindow() {
  fm_Histogram = new Tfm_Histogram(FDataMgr, this);
  connect(fm_Histogram, &Tfm_Histogram::EndTyped, this, [this](bool Max, int32_t Value) {
    EnterNumber(Max ? TNumberEdit::IntensityMax : TNumberEdit::IntensityMin,
                QString::number(Value));
  });
  connect(this, &Tfm_Main::ParametersPushed, fm_Histogram,
          [this] { fm_Histogram->SetWindow(FDataMgr.IntensityMin(), FDataMgr.IntensityMax()); });
}

void Tfm_Main::mi_HistogramClick() {
  fm_Histogram->show();
  fm_Histogram->raise();
  fm_Histogram->activateWindow();
}
