// The main window's engine: first-activation defaults, validation of every
// keystroke, the parameter push and the delayed redraw.
#include "data/VxDataMgr.h"
#include "ui/Anchors.h"
#include "ui/ImageWidget.h"
#include "ui/IntegerText.h"
#include "ui/NumberText.h"
#include "ui/UpDown.h"
#include "ui/fm_Histogram.h"
#include "ui/fm_Main.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QTimer>

namespace {

// Clears a re-entrancy flag however the handler leaves.
class TFlagReset {
public:
  explicit TFlagReset(bool& Flag)
      : FFlag(Flag) {}
  ~TFlagReset() { FFlag = false; }
  TFlagReset(const TFlagReset&) = delete;
  TFlagReset& operator=(const TFlagReset&) = delete;

private:
  bool& FFlag;
};

class TWaitCursor {
public:
  TWaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~TWaitCursor() { QApplication::restoreOverrideCursor(); }
  TWaitCursor(const TWaitCursor&) = delete;
  TWaitCursor& operator=(const TWaitCursor&) = delete;
};

} // namespace

void Tfm_Main::FormCreate() {
  InChange = false;
  BindViewArrays();
  move(100, 100);
  FActivated = false;
}

// Sets the working defaults once. Setting an edit's text runs its change
// handler only when the text differs, and each handler schedules the redraw.
void Tfm_Main::FormActivate() {
  if (FActivated)
    return;
  ed_VoxelsPerRow->setText(QStringLiteral("256"));
  ed_RowsPerSlice->setText(QStringLiteral("256"));
  ed_SlicesPerVolume->setText(QStringLiteral("256"));
  cb_DataType->setCurrentIndex(0);
  cb_ByteOrder->setCurrentIndex(0);
  ed_IntensityMin->setText(QStringLiteral("0"));
  ed_IntensityMax->setText(QStringLiteral("256"));
  ed_SliceNumber->setText(QStringLiteral("0"));
  ed_CrossSliceViewY->setText(QStringLiteral("0"));
  ed_VolumeNumber->setText(QStringLiteral("1"));
  setWindowTitle(FFileDescription);
  FActivated = true;
}

void Tfm_Main::FormClose() {
  FDataMgr.CloseFile();
}

TUpDown* Tfm_Main::UpDownOf(const QLineEdit* Edit) const {
  const std::pair<const QLineEdit*, TUpDown*> pairs[] = {
      {ed_SkipHeader, ud_SkipHeader},     {ed_VoxelsPerRow, ud_VoxelsPerRow},
      {ed_RowsPerSlice, ud_RowsPerSlice}, {ed_SlicesPerVolume, ud_SlicesPerVolume},
      {ed_SliceNumber, ud_SliceNumber},   {ed_CrossSliceViewY, ud_CrossSliceViewY},
      {ed_VolumeNumber, ud_VolumeNumber}};
  for (const auto& [edit, upDown] : pairs)
    if (edit == Edit)
      return upDown;
  return nullptr;
}

// Every numeric edit is read here, in one of two ways that must stay apart.
// Spin: a layout value is its spin's position, which takes the edit's number
// only while that is plain decimal within the range, so hexadecimal or
// grouped text leaves the last such number in force. TextOr: the edit's
// integer text, hexadecimal included, or Default. That reading leaves the
// spin alone, since reading a spin moves it to the text, and a letter typed
// into the slice edit must bring back the position the arrows last set, not
// the number typed by hand.
int32_t Tfm_Main::EditNumber(const QLineEdit* Edit, TReading Reading, int32_t Default) const {
  if (Reading == TReading::Spin)
    return UpDownOf(Edit)->Position();
  return IntegerTextValue(Edit->text()).value_or(Default);
}

// Clamps the number to the spin range, puts the spin position in place of
// anything that is not a number, and leaves an empty edit empty.
void Tfm_Main::ed_NumberChange(QLineEdit* Sender) {
  if (InChange)
    return;
  TFlagReset reset(InChange);
  TUpDown* upDown = UpDownOf(Sender);
  const int caret = Sender->cursorPosition();
  // -1 stands for "no number", so a typed -1 brings back the spin position.
  // Digits beyond 32 bits are a number too far out, clamped like any other.
  int64_t typed = EditNumber(Sender, TReading::TextOr, -1);
  if (const int side = DecimalOverflowSign(Sender->text()); side != 0)
    typed = side > 0 ? int64_t{INT32_MAX} + 1 : int64_t{INT32_MIN} - 1;
  int64_t value = typed == -1 ? EditNumber(Sender, TReading::Spin) : typed;
  if (value > upDown->Max())
    value = upDown->Max();
  if (value < upDown->Min())
    value = upDown->Min();
  if (value != typed && !Sender->text().isEmpty()) {
    InChange = true;
    Sender->setText(QString::number(value));
    Sender->setCursorPosition(caret);
  }
  ScheduleRedraw();
}

QLineEdit* Tfm_Main::EditOf(TNumberEdit Edit) const {
  QLineEdit* const edits[] = {ed_SkipHeader,      ed_VoxelsPerRow,    ed_RowsPerSlice,
                              ed_SlicesPerVolume, ed_IntensityMin,    ed_IntensityMax,
                              ed_SliceNumber,     ed_CrossSliceViewY, ed_VolumeNumber};
  return edits[static_cast<int>(Edit)];
}

QString Tfm_Main::EnterNumber(TNumberEdit Edit, const QString& Text) {
  QLineEdit* edit = EditOf(Edit);
  edit->setText(Text);
  return edit->text();
}

void Tfm_Main::SelectDataType(int Item) {
  cb_DataType->setCurrentIndex(Item);
}

void Tfm_Main::SelectByteOrder(int Item) {
  cb_ByteOrder->setCurrentIndex(Item);
}

void Tfm_Main::SetFlagOverUnder(bool Flag) {
  ck_FlagOverUnder->setChecked(Flag);
}

// Accepts integer text (or nothing); anything else is undone, caret included.
void Tfm_Main::EditIntChange(QLineEdit* Sender) {
  if (InChange)
    return;
  TFlagReset reset(InChange);
  TEdPrevState& previous = Sender == ed_IntensityMin ? IntensityMinPrev : IntensityMaxPrev;
  if (!Sender->text().isEmpty() && !IntegerTextValue(Sender->text())) {
    InChange = true;
    Sender->setText(previous.PrevText);
    Sender->setCursorPosition(previous.PrevSelStart);
  }
  previous.PrevText = Sender->text();
  previous.PrevSelStart = Sender->cursorPosition();
  if (!InChange)
    ScheduleRedraw();
}

void Tfm_Main::ComboChanges() {
  ScheduleRedraw();
}

void Tfm_Main::ck_FlagOverUnderClick() {
  ScheduleRedraw();
}

// The check box moves onto the hidden image, or back under it; no redraw.
void Tfm_Main::ck_CrossSliceDisableClick() {
  TImageWidget* image = ViewImages[vkCrossSlice];
  if (ck_CrossSliceDisable->isChecked()) {
    ck_CrossSliceDisable->move(image->x() + 4, image->y() + 20);
    anchors::Anchor(ck_CrossSliceDisable, Qt::LeftEdge | Qt::TopEdge);
    image->hide();
  } else {
    ck_CrossSliceDisable->move(8, pa_CrossSliceView->height() - 20);
    anchors::Anchor(ck_CrossSliceDisable, Qt::LeftEdge | Qt::BottomEdge);
    image->show();
  }
}

void Tfm_Main::Timer1Timer() {
  Timer1->stop();
  RedrawViews();
}

// The layout values come from the spin positions, so text that is not a
// number never reaches the data manager.
void Tfm_Main::PushParameters() {
  const int32_t header = EditNumber(ed_SkipHeader, TReading::Spin);
  const int32_t voxelsPerRow = EditNumber(ed_VoxelsPerRow, TReading::Spin);
  const int32_t rowsPerSlice = EditNumber(ed_RowsPerSlice, TReading::Spin);
  const int32_t slicesPerVolume = EditNumber(ed_SlicesPerVolume, TReading::Spin);
  const auto voxelType =
      static_cast<TVoxelType>(std::clamp(cb_DataType->currentIndex(), 0, VoxelTypeCount - 1));
  const auto byteOrder = static_cast<TByteOrder>(std::clamp(cb_ByteOrder->currentIndex(), 0, 1));
  const int32_t intensityMin = EditNumber(ed_IntensityMin, TReading::TextOr);
  const int32_t intensityMax = EditNumber(ed_IntensityMax, TReading::TextOr);
  FDataMgr.SetParameters(header, voxelsPerRow, rowsPerSlice, slicesPerVolume, voxelType, byteOrder,
                         intensityMin, intensityMax, ck_FlagOverUnder->isChecked());
  emit ParametersPushed();
}

// Any number of changes within 300 ms of each other give one redraw, while
// the data manager always holds the latest parameters.
void Tfm_Main::ScheduleRedraw() {
  PushParameters();
  Timer1->stop();
  Timer1->start();
}

void Tfm_Main::RedrawViews() {
  const TWaitCursor wait;
  PushParameters();
  LayoutViews();
  FCurSlice = EditNumber(ed_SliceNumber, TReading::TextOr);
  const int32_t nextSlice = NextSlice();
  fm_Histogram->FollowSlice();
  FDataMgr.RenderView(0, FCurSlice, vkSlice, *ViewImages[vkSlice]);
  lb_Intensity->setText(QStringLiteral("Intens: ") + FixedText(FDataMgr.SliceMin(), 2, 10) +
                        QStringLiteral(" to ") + FixedText(FDataMgr.SliceMax(), 2, 10));
  lb_Intensity->adjustSize();
  lb_NextSlice->setText(QStringLiteral("Next Slice: ") + QString::number(nextSlice));
  lb_NextSlice->adjustSize();
  FDataMgr.RenderView(0, nextSlice, vkNextSlice, *ViewImages[vkNextSlice]);
  if (!ck_CrossSliceDisable->isChecked()) {
    FCurCrossRow = EditNumber(ed_CrossSliceViewY, TReading::TextOr);
    FDataMgr.RenderView(0, FCurCrossRow, vkCrossSlice, *ViewImages[vkCrossSlice]);
  }
  FCurVolume = EditNumber(ed_VolumeNumber, TReading::TextOr);
  FDataMgr.RenderView(FCurVolume, FCurSlice, vkOtherVolume, *ViewImages[vkOtherVolume]);
  fm_Histogram->ShowCount();
  emit ViewsRedrawn();
}

void Tfm_Main::mi_QuitClick() {
  close();
}

void Tfm_Main::mi_HelpClick() {
  if (FHelp)
    FHelp->exec();
}

void Tfm_Main::mi_AboutClick() {
  if (!FAboutBox)
    return;
  FAboutBox->show();
  FAboutBox->raise();
  FAboutBox->activateWindow();
}

// The first showing is the first activation: the defaults are in place
// before anything else reaches the controls, and later activations change
// nothing, so no other event needs to ask.
void Tfm_Main::showEvent(QShowEvent* Event) {
  QMainWindow::showEvent(Event);
  FormActivate();
}

void Tfm_Main::closeEvent(QCloseEvent* Event) {
  FormClose();
  QMainWindow::closeEvent(Event);
}
