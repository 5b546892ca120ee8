#include "QtPrinters.h"
#include "controls/RotateLabel.h"
#include "data/TestFiles.h"
#include "data/VxDataMgr.h"
#include "ui/FrameShape.h"
#include "ui/ImageWidget.h"
#include "ui/MainWindowFixture.h"
#include "ui/UpDown.h"
#include "ui/fm_Main.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QStatusBar>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <QTest>
#include <QTextDocument>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>

namespace {

struct TPlacement {
  const char* Name;
  QRect Bounds;
};

TEST_F(TMainWindowTest, ControlsStandWhereTheDesignPutsThem) {
  const TPlacement placements[] = {
      {"ed_SkipHeader", {4, 44, 65, 21}},        {"ud_SkipHeader", {69, 44, 16, 21}},
      {"ed_VoxelsPerRow", {96, 44, 60, 21}},     {"ud_VoxelsPerRow", {156, 44, 15, 21}},
      {"ed_RowsPerSlice", {184, 44, 60, 21}},    {"ud_RowsPerSlice", {244, 44, 15, 21}},
      {"ed_SlicesPerVolume", {272, 44, 60, 21}}, {"ud_SlicesPerVolume", {332, 44, 15, 21}},
      {"GroupBox1", {536, 25, 169, 57}},         {"ed_IntensityMin", {8, 24, 65, 21}},
      {"ed_IntensityMax", {96, 24, 65, 21}},     {"ck_FlagOverUnder", {712, 32, 105, 17}},
      {"ed_SliceNumber", {96, 4, 57, 21}},       {"ud_SliceNumber", {153, 4, 15, 21}},
      {"ed_CrossSliceViewY", {128, 4, 57, 21}},  {"ud_CrossSliceViewY", {185, 4, 15, 21}},
      {"ed_VolumeNumber", {128, 4, 57, 21}},     {"ud_VolumeNumber", {185, 4, 15, 21}},
      {"ZdRotateLabel1", {2, 64, 17, 90}},       {"ZdRotateLabel3", {2, 64, 17, 90}},
  };
  for (const auto& [name, bounds] : placements)
    EXPECT_EQ(Control(name)->geometry(), bounds) << name;
  EXPECT_EQ(Control("pa_Top")->height(), 89);
  EXPECT_EQ(Control("pa_FileName")->geometry().topLeft(), QPoint(1, 1));
  EXPECT_EQ(Control("pa_FileName")->height(), 24);
  EXPECT_EQ(Control("StatusBar1")->height(), 19);
}

TEST_F(TMainWindowTest, CaptionsAndListsAreTheProgramsOwn) {
  const std::pair<const char*, const char*> labels[] = {
      {"Label16", "File: "},
      {"lb_FilePath", "Drag an MRI file onto this area"},
      {"Label21", "Skip header"},
      {"Label22", "(bytes)"},
      {"Label11", "Voxels/Row"},
      {"Label13", "Slices/Volume"},
      {"Label5", "Byte Order:"},
      {"Label1", "1. Volume 0, Slice:"},
      {"Label3", "3. Cross-Slice at Index 1 ="},
      {"Label4", "4. Same Slice, In Volume: "},
      {"Label6", "Index 0 -->"},
  };
  for (const auto& [name, text] : labels)
    EXPECT_EQ(Control<QLabel>(name)->text(), QString::fromLatin1(text)) << name;
  EXPECT_EQ(Control<QGroupBox>("GroupBox1")->title(),
            QStringLiteral(" Intensity Range (or right click) "));
  const QStringList types = {"Byte (unsigned)",    "Int-16  (signed)",   "Int-32 (signed)",
                             "Float-32",           "UInt-16 (unsigned)", "Int-8 (signed)",
                             "UInt-32 (unsigned)", "Int-64 (signed)",    "UInt-64 (unsigned)",
                             "Float-16 (half)",    "Float-64 (double)"};
  ASSERT_EQ(Control<QComboBox>("cb_DataType")->count(), types.size());
  for (int i = 0; i < types.size(); ++i)
    EXPECT_EQ(Control<QComboBox>("cb_DataType")->itemText(i), types[i]);
  EXPECT_EQ(Control<QComboBox>("cb_ByteOrder")->itemText(1), QStringLiteral("Big-Endian "));
  EXPECT_EQ(Control<TZdRotateLabel>("ZdRotateLabel3")->Caption(), QStringLiteral("<-- Index 2"));
  EXPECT_EQ(Control<TZdRotateLabel>("ZdRotateLabel4")->Angle(), ag90);
  EXPECT_EQ(Control<TUpDown>("ud_SkipHeader")->Max(), 2147483647);
  EXPECT_EQ(Control<TUpDown>("ud_VolumeNumber")->Max(), 10000);
  EXPECT_EQ(Window.StatusPanelText(0), QStringLiteral("[1234, 1234, 1234,  1234]"));
  EXPECT_EQ(Window.StatusPanelText(1), QStringLiteral("Intens: 12345678"));
  EXPECT_EQ(Window.StatusPanelText(2), QStringLiteral("Offset: 123456789  =  0x12345678"));
  EXPECT_EQ(Control<QLabel>("StatusBar1Panel0")->width(), 200);
  EXPECT_EQ(Control<QLabel>("StatusBar1Panel1")->width(), 160);
}

TEST_F(TMainWindowTest, MenusAndPopupListTheirItemsInOrder) {
  QStringList captions;
  for (QAction* action : Control<QMenu>("mh_File")->actions())
    captions << (action->isSeparator() ? QStringLiteral("-") : action->text());
  EXPECT_EQ(captions, QStringList({"&Open File", "&Close File", "&Guess Layout",
                                   "Save &Layout As...", "&Save Image 1", "-", "&Quit"}));
  captions.clear();
  for (QAction* action : Control<QMenu>("pop_IntensityRange")->actions())
    captions << action->objectName();
  EXPECT_EQ(captions, QStringList({"pi_IR_Selected", "pi_IR_Full", "pi_IR_Pos", "pi_IR_0to1",
                                   "pi_IR_m1to1", "pi_IR_0to255", "pi_IR_0to10000"}));
}

// The focus visits the designed controls and nothing else, both ways round.
TEST_F(TMainWindowTest, TabAndBacktabCycleThroughTheDesignedOrder) {
  const QStringList order = {"ed_VoxelsPerRow",      "ed_RowsPerSlice",  "ed_SlicesPerVolume",
                             "cb_DataType",          "cb_ByteOrder",     "ed_IntensityMin",
                             "ed_IntensityMax",      "ck_FlagOverUnder", "ed_SkipHeader",
                             "ed_SliceNumber",       "bt_UseIntensity",  "ed_CrossSliceViewY",
                             "ck_CrossSliceDisable", "ed_VolumeNumber"};
  Window.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&Window));
  for (const Qt::Key key : {Qt::Key_Tab, Qt::Key_Backtab}) {
    Control<QLineEdit>("ed_VoxelsPerRow")->setFocus(Qt::OtherFocusReason);
    QStringList visited;
    for (qsizetype step = 0; step < order.size(); ++step) {
      QTest::keyClick(QApplication::focusWidget(), key);
      visited << QApplication::focusWidget()->objectName();
    }
    QStringList expected = order.mid(1) + order.first(1);
    if (key == Qt::Key_Backtab)
      expected = QStringList(order.rbegin(), order.rend());
    EXPECT_EQ(visited, expected);
  }
}

// File names and failure texts may hold markup; no label may render it.
TEST_F(TMainWindowTest, EveryLabelShowsItsTextLiterally) {
  testfiles::TTempDir dir;
  for (const char* name : {"<font color=red>x.raw", "<img src=\"x.png\">.raw", "<b>bold.raw"}) {
    Window.OpenFileNamed(dir.MakeFile(name, {1, 2, 3}));
    ASSERT_TRUE(Control<QLabel>("lb_FilePath")->text().endsWith(QString::fromUtf8(name)));
    RedrawNow();
    for (const QLabel* label : Window.findChildren<QLabel*>()) {
      if (label->window() != &Window)
        continue;
      const bool literal =
          label->textFormat() == Qt::PlainText ||
          (label->textFormat() == Qt::AutoText && !Qt::mightBeRichText(label->text()));
      EXPECT_TRUE(literal) << label->objectName().toStdString() << ": "
                           << label->text().toStdString();
    }
  }
}

// Stepping down the list from the keyboard pushes each item as its voxel type,
// with the byte order chosen beside it; the closed list shows each text whole.
TEST_F(TMainWindowTest, EveryDataTypeItemReachesTheDataManager) {
  QComboBox* list = Control<QComboBox>("cb_DataType");
  QStyleOptionComboBox option;
  option.initFrom(list);
  const QRect field = list->style()->subControlRect(QStyle::CC_ComboBox, &option,
                                                    QStyle::SC_ComboBoxEditField, list);
  Control<QComboBox>("cb_ByteOrder")->setCurrentIndex(boBigEndian);
  Window.ComboChanges();
  list->setFocus();
  for (int item = 0; item < VoxelTypeCount; ++item) {
    if (item > 0)
      QTest::keyClick(list, Qt::Key_Down);
    ASSERT_EQ(list->currentIndex(), item);
    const QString text = list->currentText();
    EXPECT_EQ(DataMgr.VoxelType(), item) << text.toStdString();
    EXPECT_EQ(DataMgr.ByteOrder(), boBigEndian);
    EXPECT_LE(list->fontMetrics().horizontalAdvance(text), field.width()) << text.toStdString();
  }
}

TEST_F(TMainWindowTest, FirstActivationSetsTheDefaultsOnce) {
  EXPECT_TRUE(Window.Activated());
  EXPECT_EQ(Window.windowTitle(), QStringLiteral("Zandrel Viewer"));
  EXPECT_EQ(Control<QLineEdit>("ed_VoxelsPerRow")->text(), QStringLiteral("256"));
  EXPECT_EQ(Control<QLineEdit>("ed_IntensityMax")->text(), QStringLiteral("256"));
  EXPECT_EQ(Control<QLineEdit>("ed_VolumeNumber")->text(), QStringLiteral("1"));
  EXPECT_EQ(Window.pos(), QPoint(100, 100));
  EXPECT_EQ(DataMgr.Dims(0), 256);
  EXPECT_EQ(DataMgr.IntensityMax(), 256);
  Control<QLineEdit>("ed_VoxelsPerRow")->setText(QStringLiteral("12"));
  Window.FormActivate();
  EXPECT_EQ(Control<QLineEdit>("ed_VoxelsPerRow")->text(), QStringLiteral("12"));
}

TEST_F(TMainWindowTest, LayoutOf256CubedViews) {
  RedrawNow();
  const int lefts[] = {0, 291, 582, 873};
  for (int view = 0; view < ViewKindCount; ++view) {
    const QFrame* panel =
        std::array{Control<QFrame>("pa_Slice"), Control<QFrame>("pa_NextSlice"),
                   Control<QFrame>("pa_CrossSliceView"), Control<QFrame>("pa_OtherVolume")}[view];
    EXPECT_EQ(panel->geometry(), QRect(lefts[view], 0, 291, 339)) << view;
  }
  EXPECT_EQ(Control("img_CrossSliceView")->geometry(), QRect(23, 57, 256, 256));
  EXPECT_EQ(Control("border_OtherVolume")->geometry(), QRect(21, 55, 260, 260));
  // The anchored controls keep their distances to the bottom (and right) edges.
  EXPECT_EQ(Control<QLabel>("lb_Intensity")->geometry().bottom(), 339 - 4 - 1);
  EXPECT_EQ(Control<QPushButton>("bt_UseIntensity")->geometry(),
            QRect(291 - 6 - 43, 339 - 4 - 17, 43, 17));
  EXPECT_EQ(Control<QCheckBox>("ck_CrossSliceDisable")->geometry().bottom(), 339 - 3 - 1);
}

TEST_F(TMainWindowTest, LayoutBandKeepsOrChangesThePanelWidth) {
  struct TCase {
    const char* VoxelsPerRow;
    const char* RowsPerSlice;
    const char* SlicesPerVolume;
    int PanelWidthBefore;
    int PanelWidth;
    int SliceHeight;
    int CrossHeight;
  };
  const TCase cases[] = {
      {"0", "100", "400", 281, 220, 239, 483}, {"300", "156", "157", 296, 335, 239, 240},
      {"300", "10", "10", 333, 333, 239, 239}, {"300", "10", "10", 330, 335, 239, 239},
      {"185", "10", "10", 215, 220, 239, 239}, {"185", "10", "10", 216, 216, 239, 239},
  };
  for (const TCase& c : cases) {
    for (QFrame* panel : {Control<QFrame>("pa_Slice"), Control<QFrame>("pa_NextSlice"),
                          Control<QFrame>("pa_CrossSliceView"), Control<QFrame>("pa_OtherVolume")})
      panel->resize(c.PanelWidthBefore, panel->height());
    Control<QLineEdit>("ed_VoxelsPerRow")->setText(QString::fromLatin1(c.VoxelsPerRow));
    Control<QLineEdit>("ed_RowsPerSlice")->setText(QString::fromLatin1(c.RowsPerSlice));
    Control<QLineEdit>("ed_SlicesPerVolume")->setText(QString::fromLatin1(c.SlicesPerVolume));
    Window.RedrawViews();
    EXPECT_EQ(Control<QFrame>("pa_OtherVolume")->width(), c.PanelWidth) << c.VoxelsPerRow;
    EXPECT_EQ(Control<QFrame>("pa_OtherVolume")->x(), 3 * c.PanelWidth);
    EXPECT_EQ(Control<QFrame>("pa_Slice")->height(), c.SliceHeight) << c.RowsPerSlice;
    EXPECT_EQ(Control<QFrame>("pa_CrossSliceView")->height(), c.CrossHeight) << c.SlicesPerVolume;
  }
}

struct TNumberCase {
  const char* Edit;
  const char* Before;
  const char* Typed; // replaces the whole text
  const char* After;
  int Caret;
};

TEST_F(TMainWindowTest, NumericEditsClampAndKeepTheCaret) {
  const TNumberCase cases[] = {
      {"ed_VoxelsPerRow", "256", "12345", "10000", 5},
      {"ed_SkipHeader", "0", "40000", "40000", 5},
      {"ed_SkipHeader", "0", "3000000000", "2147483647", 10},
      {"ed_SlicesPerVolume", "256", "007", "007", 3},
  };
  for (const TNumberCase& c : cases) {
    auto* edit = Control<QLineEdit>(c.Edit);
    edit->setText(QString::fromLatin1(c.Before));
    TypeInto(edit, QString::fromLatin1(c.Typed));
    EXPECT_EQ(edit->text(), QString::fromLatin1(c.After)) << c.Edit << " " << c.Typed;
    EXPECT_EQ(edit->cursorPosition(), c.Caret) << c.Edit << " " << c.Typed;
  }
  EXPECT_EQ(DataMgr.Dims(2), 7);
  // Pasted rather than typed: a lone "-" would already have been replaced.
  Control<QLineEdit>("ed_RowsPerSlice")->setText(QStringLiteral("-5"));
  EXPECT_EQ(Control<QLineEdit>("ed_RowsPerSlice")->text(), QStringLiteral("0"));
}

// Headers reach as far as a 32-bit count does; the arrows stop at the end
// without wrapping (their grouped text comes back as plain digits), and the
// data manager gets what the edit shows.
TEST_F(TMainWindowTest, TheHeaderRunsToThe32BitEnd) {
  auto* edit = Control<QLineEdit>("ed_SkipHeader");
  const auto press = [edit](Qt::Key Key) { QTest::keyClick(edit, Key); };
  struct TStep {
    const char* What;
    std::function<void()> Act;
    QString Text;
    int32_t Header;
  };
  const TStep steps[] = {
      {"typed 40000", [&] { TypeInto(edit, "40000"); }, "40000", 40000},
      {"typed the end", [&] { TypeInto(edit, "2147483647"); }, "2147483647", INT32_MAX},
      {"below the end", [&] { edit->setText("2147483646"); }, "2147483646", INT32_MAX - 1},
      {"up to the end", [&] { press(Qt::Key_Up); }, "2147483647", INT32_MAX},
      {"up at the end", [&] { press(Qt::Key_Up); }, "2147483647", INT32_MAX},
      {"down", [&] { press(Qt::Key_Down); }, "2147483646", INT32_MAX - 1},
      {"typed past 32 bits", [&] { TypeInto(edit, "99999999999"); }, "2147483647", INT32_MAX},
  };
  for (const TStep& step : steps) {
    step.Act();
    EXPECT_EQ(edit->text(), step.Text) << step.What;
    EXPECT_EQ(DataMgr.HeaderBytes(), step.Header) << step.What;
  }
}

TEST_F(TMainWindowTest, ALetterIsUndoneWithTheCaretWhereItWas) {
  TypeInto(Control<QLineEdit>("ed_VoxelsPerRow"), QStringLiteral("25"));
  Control<QLineEdit>("ed_VoxelsPerRow")->setCursorPosition(1);
  QTest::keyClicks(Control<QLineEdit>("ed_VoxelsPerRow"), QStringLiteral("a"));
  EXPECT_EQ(Control<QLineEdit>("ed_VoxelsPerRow")->text(), QStringLiteral("25"));
  EXPECT_EQ(Control<QLineEdit>("ed_VoxelsPerRow")->cursorPosition(), 2);
}

TEST_F(TMainWindowTest, NonNumbersBringBackTheSpinPosition) {
  // The slice spin stays at 0 while numbers are typed by hand.
  TypeInto(Control<QLineEdit>("ed_SliceNumber"), QStringLiteral("25"));
  QTest::keyClicks(Control<QLineEdit>("ed_SliceNumber"), QStringLiteral("x"));
  EXPECT_EQ(Control<QLineEdit>("ed_SliceNumber")->text(), QStringLiteral("0"));
  // After the arrows set it, the position is what comes back.
  Control<TUpDown>("ud_SliceNumber")->SetPosition(7);
  Control<QLineEdit>("ed_SliceNumber")->setText(QStringLiteral("-1"));
  EXPECT_EQ(Control<QLineEdit>("ed_SliceNumber")->text(), QStringLiteral("7"));
  Control<QLineEdit>("ed_SliceNumber")->selectAll();
  QTest::keyClicks(Control<QLineEdit>("ed_SliceNumber"), QStringLiteral("-"));
  EXPECT_EQ(Control<QLineEdit>("ed_SliceNumber")->text(), QStringLiteral("7"));
}

// A layout value is its spin's position and a slice its edit's number, so
// hexadecimal text counts for the slice but leaves the layout as it was.
TEST_F(TMainWindowTest, HexadecimalTextCountsForTheSliceButNotTheLayout) {
  Control<QLineEdit>("ed_VoxelsPerRow")->setText(QStringLiteral("$20"));
  Control<QLineEdit>("ed_SliceNumber")->setText(QStringLiteral("$5"));
  EXPECT_EQ(Control<QLineEdit>("ed_VoxelsPerRow")->text(), QStringLiteral("$20"));
  EXPECT_EQ(DataMgr.Dims(0), 256);
  Window.RedrawViews();
  EXPECT_EQ(Window.CurSlice(), 5);
}

TEST_F(TMainWindowTest, AnEmptyEditStaysEmpty) {
  Control<QLineEdit>("ed_VoxelsPerRow")->clear();
  Control<QLineEdit>("ed_SliceNumber")->clear();
  EXPECT_TRUE(Control<QLineEdit>("ed_VoxelsPerRow")->text().isEmpty());
  EXPECT_EQ(DataMgr.Dims(0), 256); // the spin position, not the empty text
  Window.RedrawViews();
  EXPECT_EQ(Window.CurSlice(), 0);
}

TEST_F(TMainWindowTest, IntensityEditsAcceptIntegersAndRevertTheRest) {
  // "0" was not changed at activation, so the record still holds empty text and caret 0.
  Control<QLineEdit>("ed_IntensityMin")->setCursorPosition(1);
  QTest::keyClicks(Control<QLineEdit>("ed_IntensityMin"), QStringLiteral("q"));
  EXPECT_EQ(Control<QLineEdit>("ed_IntensityMin")->text(), QString());
  EXPECT_EQ(Control<QLineEdit>("ed_IntensityMin")->cursorPosition(), 0);
  EXPECT_EQ(DataMgr.IntensityMin(), 0);

  QTest::keyClicks(Control<QLineEdit>("ed_IntensityMin"), QStringLiteral("-"));
  EXPECT_EQ(Control<QLineEdit>("ed_IntensityMin")->text(), QString());
  QTest::keyClicks(Control<QLineEdit>("ed_IntensityMin"), QStringLiteral("40"));
  Control<QLineEdit>("ed_IntensityMin")->setCursorPosition(0);
  QTest::keyClicks(Control<QLineEdit>("ed_IntensityMin"), QStringLiteral("-"));
  EXPECT_EQ(Control<QLineEdit>("ed_IntensityMin")->text(), QStringLiteral("-40"));
  EXPECT_EQ(DataMgr.IntensityMin(), -40);
  QTest::keyClicks(Control<QLineEdit>("ed_IntensityMin"), QStringLiteral("z"));
  EXPECT_EQ(Control<QLineEdit>("ed_IntensityMin")->text(), QStringLiteral("-40"));
  EXPECT_EQ(Control<QLineEdit>("ed_IntensityMin")->cursorPosition(), 1);

  Control<QLineEdit>("ed_IntensityMax")->clear();
  EXPECT_EQ(DataMgr.IntensityMax(), 0);
}

TEST_F(TMainWindowTest, FiveQuickChangesGiveOneRedraw) {
  RedrawNow();
  QSignalSpy pushes(&Window, &Tfm_Main::ParametersPushed);
  QSignalSpy redraws(&Window, &Tfm_Main::ViewsRedrawn);
  for (const char* text : {"10", "11", "12", "13", "14"}) {
    Control<QLineEdit>("ed_RowsPerSlice")->setText(QString::fromLatin1(text));
    QTest::qWait(50);
  }
  EXPECT_EQ(pushes.count(), 5);
  EXPECT_EQ(redraws.count(), 0);
  EXPECT_TRUE(redraws.wait(1000));
  EXPECT_EQ(redraws.count(), 1);
  EXPECT_EQ(pushes.count(), 6);
  QTest::qWait(400);
  EXPECT_EQ(redraws.count(), 1);
  EXPECT_EQ(DataMgr.Dims(1), 14);
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(TMainWindowTest, CaptionsOfTheRedraw) {
  Control<QLineEdit>("ed_SliceNumber")->setText(QStringLiteral("5"));
  RedrawNow();
  EXPECT_EQ(Control<QLabel>("lb_NextSlice")->text(), QStringLiteral("Next Slice: 6"));
  EXPECT_EQ(Control<QLabel>("lb_Intensity")->text(),
            QStringLiteral("Intens:       0.00 to       0.00"));
  Control<QLineEdit>("ed_RowsPerSlice")->setText(QStringLiteral("0"));
  RedrawNow();
  EXPECT_EQ(Control<QLabel>("lb_Intensity")->text(),
            QStringLiteral("Intens: 2147483648.00 to -2147483648.00"));
  QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
  Control<QLineEdit>("ed_RowsPerSlice")->setText(QStringLiteral("4"));
  RedrawNow();
  EXPECT_EQ(Control<QLabel>("lb_Intensity")->text(),
            QStringLiteral("Intens:       0,00 to       0,00"));
}

TEST_F(TMainWindowTest, TheViewsShowTheChosenSlicesAndVolume) {
  // 4 x 2 x 3 bytes per volume, two volumes: every voxel holds its own number.
  std::vector<uint8_t> bytes(48);
  for (size_t i = 0; i < bytes.size(); ++i)
    bytes[i] = static_cast<uint8_t>(i);
  testfiles::TTempDir dir;
  DataMgr.OpenFile(dir.MakeFile("volume.raw", bytes));
  Control<QLineEdit>("ed_IntensityMax")->setText(QStringLiteral("255"));
  Control<QLineEdit>("ed_VoxelsPerRow")->setText(QStringLiteral("4"));
  Control<QLineEdit>("ed_RowsPerSlice")->setText(QStringLiteral("2"));
  Control<QLineEdit>("ed_SlicesPerVolume")->setText(QStringLiteral("3"));
  Control<QLineEdit>("ed_SliceNumber")->setText(QStringLiteral("1"));
  Control<QLineEdit>("ed_CrossSliceViewY")->setText(QStringLiteral("1"));
  RedrawNow();
  const TBitmap24& other = Control<TImageWidget>("img_OtherVolume")->Picture();
  EXPECT_EQ(testfiles::PixelAt(other, 0, 0), testfiles::Grey(24 + 8)); // volume 1, slice 1
  const TBitmap24& next = Control<TImageWidget>("img_NextSlice")->Picture();
  EXPECT_EQ(testfiles::PixelAt(next, 3, 1), testfiles::Grey(16 + 7));
  const TBitmap24& cross = Control<TImageWidget>("img_CrossSliceView")->Picture();
  EXPECT_EQ(testfiles::PixelAt(cross, 1, 2), testfiles::Grey(16 + 4 + 1)); // slice 2, row 1
  EXPECT_EQ(Window.CurVolume(), 1);
  EXPECT_EQ(Window.CurCrossRow(), 1);
}

TEST_F(TMainWindowTest, DisablingTheCrossSliceViewHidesAndSkipsIt) {
  RedrawNow();
  auto* image = Control<TImageWidget>("img_CrossSliceView");
  Control<QCheckBox>("ck_CrossSliceDisable")->click();
  EXPECT_TRUE(image->isHidden());
  EXPECT_EQ(Control<QCheckBox>("ck_CrossSliceDisable")->pos(), QPoint(23 + 4, 57 + 20));
  EXPECT_FALSE(Control<QTimer>("Timer1")->isActive());
  Control<QLineEdit>("ed_CrossSliceViewY")->setText(QStringLiteral("9"));
  RedrawNow();
  EXPECT_EQ(Window.CurCrossRow(), 0);
  Control<QCheckBox>("ck_CrossSliceDisable")->click();
  EXPECT_FALSE(image->isHidden());
  EXPECT_EQ(Control<QCheckBox>("ck_CrossSliceDisable")->pos(),
            QPoint(8, Control<QFrame>("pa_CrossSliceView")->height() - 20));
}

} // namespace
