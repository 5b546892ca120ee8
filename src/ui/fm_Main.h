#pragma once

#include "data/VoxelTypes.h"
#include "platform/Decompress.h"

#include <QMainWindow>
#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class QAction;
class QCheckBox;
class QFileDialog;
class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QScrollArea;
class QStatusBar;
class QTimer;
class TFrameShape;
class Tfm_Histogram;
class TImageWidget;
class TUpDown;
class TVxDataMgr;
class TZdRotateLabel;
struct TLayout;
namespace dragdrop {
class TDropFileTarget;
}

// The last text of an intensity edit that the intensity check accepted, and its caret.
struct TEdPrevState {
  QString PrevText;
  int32_t PrevSelStart = 0;
};

// The main window: the layout and intensity controls, the four views and the
// pointer readout. It owns no volume data; everything goes through the data manager.
class Tfm_Main : public QMainWindow {
  Q_OBJECT

public:
  explicit Tfm_Main(TVxDataMgr& DataManager, QWidget* Parent = nullptr);
  ~Tfm_Main() override;

  // The window title set at first activation (the version record's description).
  void SetFileDescription(const QString& Text) { FFileDescription = Text; }
  void SetSecondaryWindows(QWidget* AboutBox, QDialog* Help);

  // Handlers, named after the controls and events they serve.
  void FormCreate();
  void FormActivate();
  void FormClose();
  void ed_NumberChange(QLineEdit* Sender);
  void EditIntChange(QLineEdit* Sender);
  void ComboChanges();
  void ck_FlagOverUnderClick();
  void ck_CrossSliceDisableClick();
  void Timer1Timer();
  void mi_OpenClick();
  void mi_CloseClick();
  void mi_GuessLayoutClick();
  void mi_SaveImageClick();
  void mi_SaveLayoutClick();
  void DropFileTarget1Drop(const std::vector<std::string>& Files);
  void ImageMouseMove(QWidget* Sender, int X, int Y);
  void pi_IR_Click(QAction* Sender);
  void bt_UseIntensityClick();
  void mi_QuitClick();
  void mi_HelpClick();
  void mi_AboutClick();
  void mi_ZoomInClick();
  void mi_ZoomOutClick();
  void mi_ActualSizeClick();
  void mi_ZoomFitClick();
  void ImageWheelZoom(TImageWidget* Sender, int Delta, QPointF At);
  void mi_HistogramClick();

  void PushParameters();
  void ScheduleRedraw();
  void RedrawViews();
  void LayoutViews();

  bool Activated() const { return FActivated; }
  int32_t CurSlice() const { return FCurSlice; }
  // The slice of the second view: the one after CurSlice, which stays put at
  // the last 32-bit index rather than wrap around.
  int32_t NextSlice() const { return FCurSlice == INT32_MAX ? FCurSlice : FCurSlice + 1; }
  int32_t CurCrossRow() const { return FCurCrossRow; }
  int32_t CurVolume() const { return FCurVolume; }
  // The zoom step of the four views, an index of zoom::ZoomSteps. Setting it
  // shows the views from their top-left corner, as at start-up; a step at
  // which a view would pass 2 GiB is lowered to the largest that fits.
  int ZoomStep() const { return FZoomStep; }
  void SetZoomStep(int Step);
  QString StatusPanelText(int Panel) const;

  // Opens a file as the Open command does: the strip shows the result and a
  // redraw is scheduled. Names are the host's byte strings, which need not be
  // valid UTF-8.
  void OpenFileNamed(const std::string& Name);

  // Writes a layout into the layout controls as the user would type and pick
  // it, so that the usual checks and pushes follow and one redraw shows it.
  void ApplyLayout(const TLayout& Layout);

  // The edits that take a number from outside the window.
  enum class TNumberEdit {
    SkipHeader,
    VoxelsPerRow,
    RowsPerSlice,
    SlicesPerVolume,
    IntensityMin,
    IntensityMax,
    Slice,
    CrossSliceRow,
    Volume
  };
  // Puts Text into the edit as if typed, so that the edit's own check runs;
  // answers what the edit holds afterwards.
  QString EnterNumber(TNumberEdit Edit, const QString& Text);
  // Selects list items as code does, without running ComboChanges.
  void SelectDataType(int Item);
  void SelectByteOrder(int Item);
  // Checks the flag box as code does; the caller schedules the redraw.
  void SetFlagOverUnder(bool Flag);

  // The seam through which the file dialogs run: answers whether the user
  // accepted. Tests put their own answer in; by default the dialog is shown.
  using TDialogRunner = std::function<bool(QFileDialog& Dialog)>;
  void SetDialogRunner(TDialogRunner Runner) { FDialogRunner = std::move(Runner); }
  // How long reading a compressed file through may take before its progress
  // dialog shows; tests shorten it.
  void SetProgressDelay(int Milliseconds) { FProgressDelay = Milliseconds; }

signals:
  // Observed by the tests: every call of SetParameters and every full redraw.
  void ParametersPushed();
  void ViewsRedrawn();

protected:
  void showEvent(QShowEvent* Event) override;
  void closeEvent(QCloseEvent* Event) override;

private:
  void BuildTopBar(QWidget* Client);
  void BuildViewArea(QWidget* Client);
  QFrame* BuildViewPanel(QWidget* Parent, TViewKind View, const char* Name);
  void BuildStatusBar();
  void BuildMenus();
  QMenu* BuildViewMenu();
  // Zooms the views to Step keeping the point At of Image under the pointer,
  // or the point at the centre of the view area where it is.
  void ZoomAbout(int Step, const TImageWidget* Image, QPointF At);
  void ZoomAboutCentre(int Step);
  int FittingStep() const;
  // A panel's size around an image of this size, by the rule of LayoutViews
  // without its slack, which only keeps a width that a panel already has.
  static QSize PanelAround(int64_t Width, int64_t Height);
  void BuildHistogramWindow();
  void BuildFocusOrder();
  void BindViewArrays();
  bool RunDialog(QFileDialog& Dialog);
  static QString ChosenFile(const QFileDialog& Dialog);
  TUpDown* UpDownOf(const QLineEdit* Edit) const;
  // The two ways the window reads a numeric edit; see EditNumber.
  enum class TReading { Spin, TextOr };
  int32_t EditNumber(const QLineEdit* Edit, TReading Reading, int32_t Default = 0) const;
  QLineEdit* EditOf(TNumberEdit Edit) const;
  void ShowValueText(const QString& Text);
  static constexpr int ValuePanelWidth = 160;
  // What the file-name strip says while no file is open.
  static inline const QString DropHint = QStringLiteral("Drag an MRI file onto this area");

  TVxDataMgr& FDataMgr;
  QString FFileDescription;
  QWidget* FAboutBox = nullptr;
  QDialog* FHelp = nullptr;
  TDialogRunner FDialogRunner;
  int FProgressDelay = 500;
  // Runs Work, which may read a compressed file through, with the progress
  // dialog; false when the user cancelled.
  bool WithProgress(const std::function<void(const platform::TIndexProgress& Progress)>& Work);
  void OpenWithProgress(const std::string& Name);

  // Private state, as the window keeps it.
  bool FActivated = false;
  bool InChange = false;
  TEdPrevState IntensityMinPrev;
  TEdPrevState IntensityMaxPrev;
  int32_t FCurSlice = 0;
  int32_t FCurCrossRow = 0;
  int32_t FCurVolume = 0;
  int FZoomStep;
  int FWheelRest = 0; // eighths of a degree turned short of a zoom step
  std::array<QFrame*, ViewKindCount> ViewPanels{};
  std::array<TImageWidget*, ViewKindCount> ViewImages{};
  std::array<TFrameShape*, ViewKindCount> ViewBorders{};

  // The controls, named as in the window's design; each carries its name as
  // its object name, by which tests find it.
  QFrame* pa_Top = nullptr;
  QFrame* pa_FileName = nullptr;
  QLabel* lb_FilePath = nullptr;
  QLineEdit* ed_SkipHeader = nullptr;
  TUpDown* ud_SkipHeader = nullptr;
  QLineEdit* ed_VoxelsPerRow = nullptr;
  TUpDown* ud_VoxelsPerRow = nullptr;
  QLineEdit* ed_RowsPerSlice = nullptr;
  TUpDown* ud_RowsPerSlice = nullptr;
  QLineEdit* ed_SlicesPerVolume = nullptr;
  TUpDown* ud_SlicesPerVolume = nullptr;
  QComboBox* cb_DataType = nullptr;
  QComboBox* cb_ByteOrder = nullptr;
  QGroupBox* GroupBox1 = nullptr;
  QLineEdit* ed_IntensityMin = nullptr;
  QLineEdit* ed_IntensityMax = nullptr;
  QCheckBox* ck_FlagOverUnder = nullptr;
  QScrollArea* ScrollBox_Bottom = nullptr;
  QWidget* ScrollContent = nullptr;
  QFrame* pa_Slice = nullptr;
  QLineEdit* ed_SliceNumber = nullptr;
  TUpDown* ud_SliceNumber = nullptr;
  QLabel* lb_Intensity = nullptr;
  QPushButton* bt_UseIntensity = nullptr;
  QFrame* pa_NextSlice = nullptr;
  QLabel* lb_NextSlice = nullptr;
  QFrame* pa_CrossSliceView = nullptr;
  QLineEdit* ed_CrossSliceViewY = nullptr;
  TUpDown* ud_CrossSliceViewY = nullptr;
  QCheckBox* ck_CrossSliceDisable = nullptr;
  QFrame* pa_OtherVolume = nullptr;
  QLineEdit* ed_VolumeNumber = nullptr;
  TUpDown* ud_VolumeNumber = nullptr;
  std::array<TZdRotateLabel*, ViewKindCount> AxisLabels{};
  QStatusBar* StatusBar1 = nullptr;
  std::array<QLabel*, 3> StatusPanels{};
  QAction* mi_GuessLayout = nullptr; // enabled while a file is open
  QAction* mi_SaveLayout = nullptr;  // enabled while a file is open
  QMenu* mh_View = nullptr;
  QMenu* pop_IntensityRange = nullptr;
  // Made with the window and hidden, never destroyed, when closed.
  Tfm_Histogram* fm_Histogram = nullptr;
  QTimer* Timer1 = nullptr;
  // Made by the commands that first run them.
  QFileDialog* OpenDialog1 = nullptr;
  QFileDialog* SaveDialog1 = nullptr;
  QFileDialog* SaveLayoutDialog1 = nullptr;
  // Files dropped on pa_FileName; nothing else in the window accepts drops.
  dragdrop::TDropFileTarget* DropFileTarget1 = nullptr;
};

// The decimal text of Number, preceded by blanks to at least Width characters.
QString PadLeft(int64_t Number, int Width);
// The hexadecimal byte offset of the readout, without its "0x".
QString OffsetHex(int64_t Offset);
// A slice's value as an end of the intensity window.
int32_t WindowEndOf(float Value);
