#pragma once

#include "data/Histogram.h"

#include <QWidget>
#include <array>
#include <cmath>
#include <cstdint>
#include <memory>
#include <string>

class QCheckBox;
class QLabel;
class QPushButton;
class THistogramPlot;
class TVxDataMgr;

// The histogram of the first view's values from its last redraw, with the
// intensity window's ends as lines to drag. Modeless; the close box only hides it.
// It never writes the window itself: it asks, through EndTyped, for a number
// to be typed into an intensity edit, so the edit's own checks follow.
class Tfm_Histogram : public QWidget {
  Q_OBJECT

public:
  Tfm_Histogram(const TVxDataMgr& DataManager, QWidget* Parent = nullptr);

  // Called before each render of the first view: takes its type and whether
  // a file is open, and while shown counts on the data manager's worker
  // along the render, else counts when next shown.
  void FollowSlice();
  // Called when the redraw ends: waits for the count and shows it.
  void ShowCount();
  // Moves the lines; the counts under and over follow with the next redraw.
  void SetWindow(int32_t Min, int32_t Max);

  const THistogram& Histogram() const { return FHistogram; }
  // The plain words shown instead of bars, or nothing when there are bars.
  QString Message() const;

  THistogramPlot* img_Histogram = nullptr;
  QCheckBox* ck_Logarithmic = nullptr;
  QPushButton* bt_Percentile = nullptr;
  QLabel* lb_Values = nullptr;
  QLabel* lb_Under = nullptr;
  QLabel* lb_Over = nullptr;
  QLabel* lb_NaN = nullptr;
  QLabel* lb_PlusInfinity = nullptr;
  QLabel* lb_MinusInfinity = nullptr;
  QLabel* lb_Low = nullptr;
  QLabel* lb_High = nullptr;
  QLabel* lb_Bin = nullptr;

  void bt_PercentileClick();

signals:
  // Type Value into ed_IntensityMax when Max, else into ed_IntensityMin.
  void EndTyped(bool Max, int32_t Value);

protected:
  void showEvent(QShowEvent* Event) override;

private:
  void BuildControls();
  THistogramSource SourceNow() const;
  void StartCount();
  void CountAlongRender();
  void KeepGuess();
  void Recount();
  void ShowCounts();
  void ShowBin(int Bin);

  const TVxDataMgr& FDataMgr;
  // The first view as its last render read it.
  TVoxelType FType = vtByte;
  TByteOrder FOrder = boLittleEndian;
  bool FFileOpen = false;
  bool FFollowed = false; // a render has been taken in
  bool FStale = true;     // counted before the last render, or never
  THistogram FHistogram;
  // The range of the last count and what it counted: a redraw of the same
  // slice, the commonest kind, finds the same range, and the count along
  // the render then needs no second pass.
  double FGuessLow = NAN;
  double FGuessHigh = NAN;
  TVoxelType FGuessType = vtByte;
  TByteOrder FGuessOrder = boLittleEndian;
  std::string FGuessFile;
  // The count under way, which the worker fills; shared so that it outlives
  // this window if need be.
  std::shared_ptr<THistogram> FCounting;
};

// A value as stored, in the user's locale: 64-bit integers digit for digit.
QString VoxelValueText(const TVoxelValue& Value);
