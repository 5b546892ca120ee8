#include "ui/fm_Main.h"

#include "controls/RotateLabel.h"
#include "data/Layout.h"
#include "data/VxDataMgr.h"
#include "data/Zoom.h"
#include "dragdrop/DropTarget.h"
#include "ui/Anchors.h"
#include "ui/FrameShape.h"
#include "ui/ImageWidget.h"
#include "ui/UpDown.h"
#include "ui/WindowFont.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QScrollArea>
#include <QStatusBar>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdlib>

namespace {

constexpr int DesignPanelWidth = 281;
constexpr int DesignPanelHeight = 340;

// The spin ranges. The header reaches as far as a 32-bit count does, since
// instrument files keep their data well past 32 KiB; dimensions and indices
// end at 10000, which keeps a view's bitmap (one pixel of 3 bytes per voxel)
// under 300 MB.
constexpr int32_t HeaderLimit = MaxHeaderBytes;
constexpr int32_t IndexLimit = 10000;

// The view panels. The image sits right of the vertical axis caption (left
// 2, 17 wide) and below the heading row and the "Index 0 -->" caption; its
// 2-pixel frame lies just outside it.
constexpr QPoint ImageTopLeft{23, 57};
constexpr int FrameWidth = 2;
// The headings need room even over a narrow image: the row and volume edits
// end 185 pixels in.
constexpr int LeastImageWidth = 185;
// A panel is 35 pixels wider than its image, 23 left of it and 12 right of
// it; within 4 pixels of that it keeps its width, so a redraw of the same
// dimensions leaves the panels where they are.
constexpr int PanelExtraWidth = 35;
constexpr int PanelWidthSlack = 4;
// A short image still counts 160 high, which keeps the axis caption (down
// to 154) clear of the bottom row: the caption and Apply button, or the
// check box, 17 high in the 24 pixels under the frame.
constexpr int LeastFrameHeight = 160;
constexpr int BottomRowHeight = 24;

template <typename T> T* Named(T* Widget, const char* Name) {
  Widget->setObjectName(QString::fromLatin1(Name));
  return Widget;
}

// A label sizes itself to its text, as the window's labels do. Labels carry
// file names and failure texts, which must show as written, never as markup.
QLabel* MakeLabel(QWidget* Parent, const char* Name, int Left, int Top, const QString& Text) {
  auto* label = Named(new QLabel(Text, Parent), Name);
  label->setTextFormat(Qt::PlainText);
  label->move(Left, Top);
  label->adjustSize();
  return label;
}

// Only the file-name strip takes drops: text dropped into an edit would
// reach its check and change a layout value behind the user's back.
QLineEdit* MakeEdit(QWidget* Parent, const char* Name, QRect Bounds) {
  auto* edit = Named(new QLineEdit(QStringLiteral("0"), Parent), Name);
  edit->setAcceptDrops(false);
  edit->setGeometry(Bounds);
  return edit;
}

TUpDown* MakeUpDown(QWidget* Parent, const char* Name, QRect Bounds, QLineEdit* Edit, int32_t Max) {
  auto* upDown = Named(new TUpDown(Parent), Name);
  upDown->setGeometry(Bounds);
  upDown->SetRange(0, Max);
  upDown->SetPosition(0);
  upDown->Associate(Edit);
  return upDown;
}

QFrame* MakePanel(QWidget* Parent, const char* Name, QFrame::Shadow Shadow) {
  auto* panel = Named(new QFrame(Parent), Name);
  panel->setFrameStyle(QFrame::Panel | Shadow);
  panel->setLineWidth(1);
  return panel;
}

QComboBox* MakeCombo(QWidget* Parent, const char* Name, QRect Bounds, const QStringList& Items) {
  auto* combo = Named(new QComboBox(Parent), Name);
  combo->setGeometry(Bounds);
  combo->addItems(Items);
  combo->setCurrentIndex(0);
  return combo;
}

} // namespace

Tfm_Main::Tfm_Main(TVxDataMgr& DataManager, QWidget* Parent)
    : QMainWindow(Parent)
    , FDataMgr(DataManager)
    , FZoomStep(zoom::ActualSize) {
  setObjectName(QStringLiteral("fm_Main"));
  setFont(WindowFont());
  auto* client = new QWidget(this);
  auto* column = new QVBoxLayout(client);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);
  setCentralWidget(client);
  BuildMenus();
  BuildTopBar(client);
  BuildViewArea(client);
  BuildStatusBar();
  BuildFocusOrder();
  BuildHistogramWindow();
  // Outer size 1178 x 541 with the classic frame: a client area 1170 wide.
  resize(1170, 514);

  DropFileTarget1 = Named(new dragdrop::TDropFileTarget(this), "DropFileTarget1");
  DropFileTarget1->Dragtypes = {dragdrop::dtCopy};
  DropFileTarget1->GetDataOnEnter = false;
  DropFileTarget1->ShowImage = true;
  DropFileTarget1->OptimizedMove = true;
  DropFileTarget1->AllowAsyncTransfer = false;
  DropFileTarget1->SetTarget(pa_FileName);
  DropFileTarget1->OnDrop = [this](dragdrop::TCustomDropTarget&, dragdrop::TShiftState, QPoint&,
                                   dragdrop::TDropEffects&) {
    DropFileTarget1Drop(DropFileTarget1->Files());
  };

  Timer1 = Named(new QTimer(this), "Timer1");
  Timer1->setInterval(300);
  connect(Timer1, &QTimer::timeout, this, &Tfm_Main::Timer1Timer);
  Timer1->start();
  FormCreate();
}

Tfm_Main::~Tfm_Main() = default;

void Tfm_Main::SetSecondaryWindows(QWidget* AboutBox, QDialog* Help) {
  FAboutBox = AboutBox;
  FHelp = Help;
}

void Tfm_Main::BuildTopBar(QWidget* Client) {
  pa_Top = MakePanel(Client, "pa_Top", QFrame::Raised);
  pa_Top->setFixedHeight(89);
  Client->layout()->addWidget(pa_Top);
  pa_Top->resize(1170, 89);

  pa_FileName = MakePanel(pa_Top, "pa_FileName", QFrame::Sunken);
  pa_FileName->setLineWidth(2);
  pa_FileName->setGeometry(1, 1, 1168, 24);
  anchors::Anchor(pa_FileName, Qt::LeftEdge | Qt::TopEdge | Qt::RightEdge);
  MakeLabel(pa_FileName, "Label16", 8, 4, QStringLiteral("File: "));
  lb_FilePath = MakeLabel(pa_FileName, "lb_FilePath", 32, 4, DropHint);
  lb_FilePath->setBackgroundRole(QPalette::Button);
  lb_FilePath->setAutoFillBackground(true);

  MakeLabel(pa_Top, "Label21", 12, 28, QStringLiteral("Skip header"));
  ed_SkipHeader = MakeEdit(pa_Top, "ed_SkipHeader", {4, 44, 65, 21});
  ud_SkipHeader = MakeUpDown(pa_Top, "ud_SkipHeader", {69, 44, 16, 21}, ed_SkipHeader, HeaderLimit);
  MakeLabel(pa_Top, "Label22", 20, 68, QStringLiteral("(bytes)"));
  MakeLabel(pa_Top, "Label11", 100, 28, QStringLiteral("Voxels/Row"));
  ed_VoxelsPerRow = MakeEdit(pa_Top, "ed_VoxelsPerRow", {96, 44, 60, 21});
  ud_VoxelsPerRow =
      MakeUpDown(pa_Top, "ud_VoxelsPerRow", {156, 44, 15, 21}, ed_VoxelsPerRow, IndexLimit);
  MakeLabel(pa_Top, "Label18", 108, 68, QStringLiteral("(Dim 0)"));
  MakeLabel(pa_Top, "Label12", 188, 28, QStringLiteral("Rows/Slice"));
  ed_RowsPerSlice = MakeEdit(pa_Top, "ed_RowsPerSlice", {184, 44, 60, 21});
  ud_RowsPerSlice =
      MakeUpDown(pa_Top, "ud_RowsPerSlice", {244, 44, 15, 21}, ed_RowsPerSlice, IndexLimit);
  MakeLabel(pa_Top, "Label19", 196, 68, QStringLiteral("(Dim 1)"));
  MakeLabel(pa_Top, "Label13", 272, 28, QStringLiteral("Slices/Volume"));
  ed_SlicesPerVolume = MakeEdit(pa_Top, "ed_SlicesPerVolume", {272, 44, 60, 21});
  ud_SlicesPerVolume =
      MakeUpDown(pa_Top, "ud_SlicesPerVolume", {332, 44, 15, 21}, ed_SlicesPerVolume, IndexLimit);
  MakeLabel(pa_Top, "Label20", 284, 68, QStringLiteral("(Dim 2)"));

  MakeLabel(pa_Top, "Label14", 360, 32, QStringLiteral("Data Type"));
  QStringList typeCaptions;
  for (const TVoxelTypeFacts& facts : VoxelTypeTable)
    typeCaptions.append(QString::fromLatin1(facts.Caption));
  cb_DataType = MakeCombo(pa_Top, "cb_DataType", {416, 28, 113, 21}, typeCaptions);
  MakeLabel(pa_Top, "Label5", 360, 56, QStringLiteral("Byte Order:"));
  cb_ByteOrder = MakeCombo(pa_Top, "cb_ByteOrder", {416, 52, 113, 21},
                           {QStringLiteral("Lil-Endian (Intel)"), QStringLiteral("Big-Endian ")});

  GroupBox1 = Named(new QGroupBox(QStringLiteral(" Intensity Range (or right click) "), pa_Top),
                    "GroupBox1");
  GroupBox1->setGeometry(536, 25, 169, 57);
  ed_IntensityMin = MakeEdit(GroupBox1, "ed_IntensityMin", {8, 24, 65, 21});
  MakeLabel(GroupBox1, "Label15", 80, 24, QStringLiteral("to"));
  ed_IntensityMax = MakeEdit(GroupBox1, "ed_IntensityMax", {96, 24, 65, 21});
  GroupBox1->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(GroupBox1, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& At) { pop_IntensityRange->popup(GroupBox1->mapToGlobal(At)); });

  ck_FlagOverUnder =
      Named(new QCheckBox(QStringLiteral("Flag Over/Under"), pa_Top), "ck_FlagOverUnder");
  ck_FlagOverUnder->setGeometry(712, 32, 105, 17);

  for (QLineEdit* edit : {ed_SkipHeader, ed_VoxelsPerRow, ed_RowsPerSlice, ed_SlicesPerVolume})
    connect(edit, &QLineEdit::textChanged, this, [this, edit] { ed_NumberChange(edit); });
  for (QLineEdit* edit : {ed_IntensityMin, ed_IntensityMax})
    connect(edit, &QLineEdit::textChanged, this, [this, edit] { EditIntChange(edit); });
  for (QComboBox* combo : {cb_DataType, cb_ByteOrder})
    connect(combo, &QComboBox::activated, this, &Tfm_Main::ComboChanges);
  connect(ck_FlagOverUnder, &QCheckBox::clicked, this, &Tfm_Main::ck_FlagOverUnderClick);
}

QFrame* Tfm_Main::BuildViewPanel(QWidget* Parent, TViewKind View, const char* Name) {
  static const char* const axisNames[] = {"ZdRotateLabel1", "ZdRotateLabel2", "ZdRotateLabel3",
                                          "ZdRotateLabel4"};
  static const char* const indexLabels[] = {"Label6", "Label7", "Label8", "Label9"};
  static const char* const borders[] = {"border_Slice", "border_NextSlice", "border_CrossSliceView",
                                        "border_OtherVolume"};
  static const char* const images[] = {"img_Slice", "img_NextSlice", "img_CrossSliceView",
                                       "img_OtherVolume"};
  QFrame* panel = MakePanel(Parent, Name, QFrame::Raised);
  panel->setGeometry(View * DesignPanelWidth, 0, DesignPanelWidth, DesignPanelHeight);
  MakeLabel(panel, indexLabels[View], 28, 36, QStringLiteral("Index 0 -->"));

  auto* axis = Named(new TZdRotateLabel(panel), axisNames[View]);
  axis->setGeometry(2, 64, 17, 90);
  axis->SetAngle(ag90);
  QFont arial(QStringLiteral("Arial"));
  arial.setPixelSize(11);
  axis->setFont(arial);
  axis->SetFontColor(Qt::black);
  axis->SetCaption(View == vkCrossSlice ? QStringLiteral("<-- Index 2")
                                        : QStringLiteral("<-- Index 1"));
  AxisLabels[View] = axis;

  ViewBorders[View] = Named(new TFrameShape(panel), borders[View]);
  TImageWidget* image = Named(new TImageWidget(panel), images[View]);
  connect(image, &TImageWidget::MouseMoved, this,
          [this, image](int X, int Y) { ImageMouseMove(image, X, Y); });
  connect(image, &TImageWidget::ZoomWheel, this,
          [this, image](int Delta, QPointF At) { ImageWheelZoom(image, Delta, At); });
  ViewImages[View] = image;
  return panel;
}

void Tfm_Main::BuildViewArea(QWidget* Client) {
  ScrollBox_Bottom = Named(new QScrollArea(Client), "ScrollBox_Bottom");
  ScrollBox_Bottom->setFrameShape(QFrame::NoFrame);
  // The view area is no stop of the focus order; its edits and buttons are.
  ScrollBox_Bottom->setFocusPolicy(Qt::NoFocus);
  ScrollBox_Bottom->setWidgetResizable(false);
  Client->layout()->addWidget(ScrollBox_Bottom);
  // Made inside the view area, so that its labels size themselves in the
  // window's font from the start: the anchored ones keep the distance to
  // the bottom that they are given here.
  ScrollContent = Named(new QWidget(ScrollBox_Bottom), "ScrollContent");
  ScrollContent->resize(ViewKindCount * DesignPanelWidth, DesignPanelHeight);

  pa_Slice = BuildViewPanel(ScrollContent, vkSlice, "pa_Slice");
  MakeLabel(pa_Slice, "Label1", 4, 6, QStringLiteral("1. Volume 0, Slice:"));
  ed_SliceNumber = MakeEdit(pa_Slice, "ed_SliceNumber", {96, 4, 57, 21});
  ud_SliceNumber =
      MakeUpDown(pa_Slice, "ud_SliceNumber", {153, 4, 15, 21}, ed_SliceNumber, IndexLimit);
  MakeLabel(pa_Slice, "Label17", 172, 6, QStringLiteral("(Index 2)"));
  lb_Intensity = MakeLabel(pa_Slice, "lb_Intensity", 8, 323, QStringLiteral("Intensity"));
  anchors::Anchor(lb_Intensity, Qt::LeftEdge | Qt::BottomEdge);
  bt_UseIntensity = Named(new QPushButton(QStringLiteral("Apply"), pa_Slice), "bt_UseIntensity");
  bt_UseIntensity->setGeometry(232, 319, 43, 17);
  anchors::Anchor(bt_UseIntensity, Qt::RightEdge | Qt::BottomEdge);
  connect(bt_UseIntensity, &QPushButton::clicked, this, &Tfm_Main::bt_UseIntensityClick);

  pa_NextSlice = BuildViewPanel(ScrollContent, vkNextSlice, "pa_NextSlice");
  lb_NextSlice = MakeLabel(pa_NextSlice, "lb_NextSlice", 4, 4, QStringLiteral("2. Next Slice"));

  pa_CrossSliceView = BuildViewPanel(ScrollContent, vkCrossSlice, "pa_CrossSliceView");
  MakeLabel(pa_CrossSliceView, "Label3", 4, 6, QStringLiteral("3. Cross-Slice at Index 1 ="));
  ed_CrossSliceViewY = MakeEdit(pa_CrossSliceView, "ed_CrossSliceViewY", {128, 4, 57, 21});
  ud_CrossSliceViewY = MakeUpDown(pa_CrossSliceView, "ud_CrossSliceViewY", {185, 4, 15, 21},
                                  ed_CrossSliceViewY, IndexLimit);
  ck_CrossSliceDisable =
      Named(new QCheckBox(QStringLiteral("Disable This View (Faster)"), pa_CrossSliceView),
            "ck_CrossSliceDisable");
  ck_CrossSliceDisable->setGeometry(8, 320, 153, 17);
  anchors::Anchor(ck_CrossSliceDisable, Qt::LeftEdge | Qt::BottomEdge);

  pa_OtherVolume = BuildViewPanel(ScrollContent, vkOtherVolume, "pa_OtherVolume");
  MakeLabel(pa_OtherVolume, "Label4", 4, 6, QStringLiteral("4. Same Slice, In Volume: "));
  ed_VolumeNumber = MakeEdit(pa_OtherVolume, "ed_VolumeNumber", {128, 4, 57, 21});
  ud_VolumeNumber =
      MakeUpDown(pa_OtherVolume, "ud_VolumeNumber", {185, 4, 15, 21}, ed_VolumeNumber, IndexLimit);
  MakeLabel(pa_OtherVolume, "Label2", 204, 6, QStringLiteral("(Index 3)"));
  ScrollBox_Bottom->setWidget(ScrollContent);

  for (QLineEdit* edit : {ed_SliceNumber, ed_CrossSliceViewY, ed_VolumeNumber})
    connect(edit, &QLineEdit::textChanged, this, [this, edit] { ed_NumberChange(edit); });
  connect(ck_CrossSliceDisable, &QCheckBox::clicked, this, &Tfm_Main::ck_CrossSliceDisableClick);
}

void Tfm_Main::BuildStatusBar() {
  StatusBar1 = Named(new QStatusBar(this), "StatusBar1");
  StatusBar1->setFixedHeight(19);
  QFont courier;
  courier.setFamilies({"Courier New", "Liberation Mono"});
  courier.setPixelSize(11);
  StatusBar1->setFont(courier);
  StatusBar1->setForegroundRole(QPalette::ButtonText);
  const QString initial[] = {QStringLiteral("[1234, 1234, 1234,  1234]"),
                             QStringLiteral("Intens: 12345678"),
                             QStringLiteral("Offset: 123456789  =  0x12345678")};
  const int widths[] = {200, ValuePanelWidth, 0};
  for (int panel = 0; panel < 3; ++panel) {
    auto* label = new QLabel(initial[panel]);
    label->setTextFormat(Qt::PlainText);
    label->setObjectName(QStringLiteral("StatusBar1Panel%1").arg(panel));
    label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    if (widths[panel] > 0)
      label->setFixedWidth(widths[panel]);
    StatusBar1->addWidget(label, widths[panel] > 0 ? 0 : 1);
    StatusPanels[panel] = label;
  }
  setStatusBar(StatusBar1);
}

void Tfm_Main::BuildMenus() {
  QMenu* file = Named(menuBar()->addMenu(QStringLiteral("&File")), "mh_File");
  connect(Named(file->addAction(QStringLiteral("&Open File")), "mi_Open"), &QAction::triggered,
          this, &Tfm_Main::mi_OpenClick);
  connect(Named(file->addAction(QStringLiteral("&Close File")), "mi_Close"), &QAction::triggered,
          this, &Tfm_Main::mi_CloseClick);
  mi_GuessLayout = Named(file->addAction(QStringLiteral("&Guess Layout")), "mi_GuessLayout");
  mi_GuessLayout->setEnabled(false);
  connect(mi_GuessLayout, &QAction::triggered, this, &Tfm_Main::mi_GuessLayoutClick);
  mi_SaveLayout = Named(file->addAction(QStringLiteral("Save &Layout As...")), "mi_SaveLayout");
  mi_SaveLayout->setEnabled(false);
  connect(mi_SaveLayout, &QAction::triggered, this, &Tfm_Main::mi_SaveLayoutClick);
  connect(Named(file->addAction(QStringLiteral("&Save Image 1")), "mi_SaveImage"),
          &QAction::triggered, this, &Tfm_Main::mi_SaveImageClick);
  Named(file->addSeparator(), "N1");
  QAction* quit = Named(file->addAction(QStringLiteral("&Quit")), "mi_Quit");
  connect(quit, &QAction::triggered, this, &Tfm_Main::mi_QuitClick);
  mh_View = BuildViewMenu();
  QMenu* help = Named(menuBar()->addMenu(QStringLiteral("&Help")), "mh_Help");
  connect(Named(help->addAction(QStringLiteral("&Help")), "mi_Help"), &QAction::triggered, this,
          &Tfm_Main::mi_HelpClick);
  connect(Named(help->addAction(QStringLiteral("&About")), "mi_About"), &QAction::triggered, this,
          &Tfm_Main::mi_AboutClick);

  pop_IntensityRange = Named(new QMenu(this), "pop_IntensityRange");
  const std::pair<const char*, const char*> items[] = {{"pi_IR_Selected", "From Selected Slice"},
                                                       {"pi_IR_Full", "Full Range of Data Type"},
                                                       {"pi_IR_Pos", "Positive Range Only"},
                                                       {"pi_IR_0to1", "0 to 1"},
                                                       {"pi_IR_m1to1", "-1 to 1"},
                                                       {"pi_IR_0to255", "0 to 255"},
                                                       {"pi_IR_0to10000", "0 to 10000"}};
  for (const auto& [name, caption] : items) {
    QAction* item = Named(pop_IntensityRange->addAction(QString::fromLatin1(caption)), name);
    connect(item, &QAction::triggered, this, [this, item] { pi_IR_Click(item); });
  }
}

void Tfm_Main::BuildFocusOrder() {
  const QWidget* order[] = {
      ed_VoxelsPerRow, ed_RowsPerSlice,    ed_SlicesPerVolume,   cb_DataType,    cb_ByteOrder,
      ed_IntensityMin, ed_IntensityMax,    ck_FlagOverUnder,     ed_SkipHeader,  ed_SliceNumber,
      bt_UseIntensity, ed_CrossSliceViewY, ck_CrossSliceDisable, ed_VolumeNumber};
  for (size_t i = 1; i < std::size(order); ++i)
    setTabOrder(const_cast<QWidget*>(order[i - 1]), const_cast<QWidget*>(order[i]));
}

void Tfm_Main::BindViewArrays() {
  ViewPanels = {pa_Slice, pa_NextSlice, pa_CrossSliceView, pa_OtherVolume};
}

QString Tfm_Main::StatusPanelText(int Panel) const {
  return StatusPanels.at(Panel)->text();
}

QMenu* Tfm_Main::BuildViewMenu() {
  QMenu* view = Named(menuBar()->addMenu(QStringLiteral("&View")), "mh_View");
  const std::pair<const char*, const char*> items[] = {{"mi_ZoomIn", "Zoom &In"},
                                                       {"mi_ZoomOut", "Zoom &Out"},
                                                       {"mi_ActualSize", "&Actual Size"},
                                                       {"mi_ZoomFit", "Zoom to &Fit"}};
  void (Tfm_Main::*const handlers[])() = {&Tfm_Main::mi_ZoomInClick, &Tfm_Main::mi_ZoomOutClick,
                                          &Tfm_Main::mi_ActualSizeClick,
                                          &Tfm_Main::mi_ZoomFitClick};
  for (size_t i = 0; i < std::size(items); ++i)
    connect(Named(view->addAction(QString::fromLatin1(items[i].second)), items[i].first),
            &QAction::triggered, this, handlers[i]);
  Named(view->addSeparator(), "N2");
  connect(Named(view->addAction(QStringLiteral("&Histogram")), "mi_Histogram"), &QAction::triggered,
          this, &Tfm_Main::mi_HistogramClick);
  return view;
}

QSize Tfm_Main::PanelAround(int64_t Width, int64_t Height) {
  const int64_t width = std::max<int64_t>(Width, LeastImageWidth) + PanelExtraWidth;
  const int64_t frameHeight = Height + 2 * FrameWidth;
  const int64_t height = ImageTopLeft.y() - FrameWidth +
                         std::max<int64_t>(frameHeight, LeastFrameHeight) + BottomRowHeight;
  return {static_cast<int>(std::min<int64_t>(width, INT32_MAX)),
          static_cast<int>(std::min<int64_t>(height, INT32_MAX))};
}

// Sizes the images to the dimensions at the zoom step (at 1:1 one voxel, one
// pixel), the frames just outside them, and the panels around both, side by
// side from the left.
void Tfm_Main::LayoutViews() {
  const int32_t voxelsPerRow = FDataMgr.Dims(0);
  FZoomStep =
      zoom::LargestFitting(voxelsPerRow, std::max(FDataMgr.Dims(1), FDataMgr.Dims(2)), FZoomStep);
  for (int view = 0; view < ViewKindCount; ++view) {
    const int32_t height = FDataMgr.Dims(view == vkCrossSlice ? 2 : 1);
    ViewImages[view]->SetZoomStep(FZoomStep);
    ViewImages[view]->resize(static_cast<int>(zoom::ZoomedLength(voxelsPerRow, FZoomStep)),
                             static_cast<int>(zoom::ZoomedLength(height, FZoomStep)));
  }

  const int least = std::max(ViewImages[vkSlice]->width(), LeastImageWidth);
  int width = pa_Slice->width();
  if (std::abs(width - (least + PanelExtraWidth)) > PanelWidthSlack)
    width = least + PanelExtraWidth;
  if (width != pa_Slice->width())
    for (QFrame* panel : ViewPanels)
      panel->resize(width, panel->height());

  int left = 0;
  int tallest = 0;
  for (int view = 0; view < ViewKindCount; ++view) {
    QFrame* panel = ViewPanels[view];
    panel->move(left, 0);
    left += panel->width();
    TImageWidget* image = ViewImages[view];
    image->move(ImageTopLeft);
    const QRect frame =
        image->geometry().adjusted(-FrameWidth, -FrameWidth, FrameWidth, FrameWidth);
    ViewBorders[view]->setGeometry(frame);
    panel->resize(panel->width(),
                  frame.top() + std::max(frame.height(), LeastFrameHeight) + BottomRowHeight);
    tallest = std::max(tallest, panel->height());
  }
  ScrollContent->resize(left, tallest);
}
