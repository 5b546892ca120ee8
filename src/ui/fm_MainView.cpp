// The View menu and the histogram window it opens.
#include "data/VxDataMgr.h"
#include "ui/fm_Histogram.h"
#include "ui/fm_Main.h"

#include <QMenu>
#include <QMenuBar>

// Between "&File" and "&Help".
void Tfm_Main::BuildViewMenu() {
  auto* view = new QMenu(QStringLiteral("&View"), this);
  view->setObjectName(QStringLiteral("mh_View"));
  auto* help = menuBar()->findChild<QMenu*>(QStringLiteral("mh_Help"));
  menuBar()->insertMenu(help ? help->menuAction() : nullptr, view);
  QAction* histogram = view->addAction(QStringLiteral("&Histogram"));
  histogram->setObjectName(QStringLiteral("mi_Histogram"));
  connect(histogram, &QAction::triggered, this, &Tfm_Main::mi_HistogramClick);
}

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
