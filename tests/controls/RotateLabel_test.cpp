#include "QtPrinters.h"
#include "controls/RotateLabel.h"

#include <QApplication>
#include <QFontMetrics>
#include <QImage>
#include <QPainter>
#include <QPalette>
#include <QPixmap>
#include <QPoint>
#include <QSet>
#include <QTest>
#include <QtMath>
#include <cmath>
#include <functional>
#include <gtest/gtest.h>
#include <vector>

namespace {

const QColor ParentBack(30, 160, 70);
const QColor OwnBack(250, 240, 10);
const QColor Ink(0, 0, 0);
const QColor Highlight(0, 230, 230);
const QColor Shadow(120, 0, 200);

// A top-level window of a known plain colour, with known button colours in every group.
void PaintParent(QWidget& parent, int w, int h) {
  QPalette pal = parent.palette();
  pal.setColor(QPalette::Window, ParentBack);
  pal.setColor(QPalette::Light, Highlight);
  pal.setColor(QPalette::Dark, Shadow);
  parent.setPalette(pal);
  parent.setAutoFillBackground(true);
  parent.resize(w, h);
}

// Unsmoothed glyphs so that every text pixel is exactly the pen colour.
QFont SharpFont(int pixelSize) {
  QFont font(QStringLiteral("Arial"));
  font.setPixelSize(pixelSize);
  font.setStyleStrategy(QFont::NoAntialias);
  return font;
}

QImage Capture(QWidget& parent, const QWidget& label) {
  return parent.grab(label.geometry()).toImage().convertToFormat(QImage::Format_RGB32);
}

std::vector<QPoint> PixelsOf(const QImage& image, const QColor& colour) {
  std::vector<QPoint> points;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x)
      if (image.pixel(x, y) == colour.rgb())
        points.emplace_back(x, y);
  return points;
}

std::vector<QPoint> PixelsNotOf(const QImage& image, const QColor& colour) {
  std::vector<QPoint> points;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x)
      if (image.pixel(x, y) != colour.rgb())
        points.emplace_back(x, y);
  return points;
}

QRect BoundsOf(const std::vector<QPoint>& points) {
  QRect bounds;
  for (const QPoint& p : points)
    bounds |= QRect(p, QSize(1, 1));
  return bounds;
}

QSet<quint64> KeysOf(const std::vector<QPoint>& points) {
  QSet<quint64> keys;
  for (const QPoint& p : points)
    keys.insert((quint64(quint32(p.x())) << 32) | quint32(p.y()));
  return keys;
}

bool Contains(const QSet<quint64>& keys, QPoint p) {
  return keys.contains((quint64(quint32(p.x())) << 32) | quint32(p.y()));
}

TEST(CaptionOrigin, FollowsThePositionTableForEveryAngle) {
  struct TCase {
    TAngleChoice Angle;
    int W, H, TW, TH;
    int X, Y;
  };
  const TCase cases[] = {
      // The axis labels of the main window: 17 x 90, TH 13, TW 52.
      {ag90, 17, 90, 52, 13, 2, 71},
      // Wider than the label: -11 div 2 is -5, not -6.
      {ag0, 90, 90, 101, 13, -5, 38},
      {ag180, 90, 90, 40, 16, 65, 53},
      // 90 x 90, TW 40, TH 16: TH div 3 = 5, (W - TW) div 2 = 25, (H - TH) div 2 = 37.
      {ag0, 90, 90, 40, 16, 25, 37},
      {ag45, 90, 90, 40, 16, 5, 74},
      {ag90, 90, 90, 40, 16, 37, 65},
      {ag135, 90, 90, 40, 16, 74, 85},
      {ag225, 90, 90, 40, 16, 85, 16},
      {ag270, 90, 90, 40, 16, 53, 25},
      {ag315, 90, 90, 40, 16, 16, 5},
      // 17 x 91, TW 100, TH 20: every centring difference is odd and negative, so
      // truncation toward zero and flooring part ways.
      {ag0, 17, 91, 100, 20, -41, 35},
      {ag45, 17, 91, 100, 20, 6, 71},
      {ag90, 17, 91, 100, 20, -1, 95},
      {ag135, 17, 91, 100, 20, -3, 85},
      {ag180, 17, 91, 100, 20, 58, 55},
      {ag225, 17, 91, 100, 20, 11, 20},
      {ag270, 17, 91, 100, 20, 19, -4},
      {ag315, 17, 91, 100, 20, 20, 6},
      // Nothing to draw: the point sits in the centre or the corners.
      {ag0, 10, 20, 0, 0, 5, 10},
      {ag90, 10, 20, 0, 0, 5, 10},
      {ag315, 10, 20, 0, 0, 0, 0},
  };
  for (const TCase& c : cases) {
    const TCaptionOrigin origin = CaptionOrigin(c.Angle, c.W, c.H, c.TW, c.TH);
    EXPECT_EQ(origin.X, c.X) << "angle " << int(c.Angle) << " size " << c.W << "x" << c.H
                             << " text " << c.TW << "x" << c.TH;
    EXPECT_EQ(origin.Y, c.Y) << "angle " << int(c.Angle) << " size " << c.W << "x" << c.H
                             << " text " << c.TW << "x" << c.TH;
  }
}

TEST(RotateLabel, StartsAsTheDefaultLabel) {
  QWidget parent;
  PaintParent(parent, 200, 200);
  TZdRotateLabel label(&parent);
  EXPECT_EQ(label.geometry(), QRect(0, 0, 90, 90));
  EXPECT_FALSE(label.Transparent());
  EXPECT_TRUE(label.testAttribute(Qt::WA_OpaquePaintEvent));
  EXPECT_EQ(label.Angle(), ag45);
  EXPECT_EQ(label.AngleTenths(), 450);
  EXPECT_TRUE(label.Caption().isEmpty());
  EXPECT_EQ(label.font().family(), QStringLiteral("Arial"));
  EXPECT_EQ(label.font().pointSize(), 10);
  EXPECT_TRUE(label.font().bold());
  EXPECT_EQ(label.FontColor(), QColor(255, 0, 0));
  EXPECT_TRUE(label.ParentColor());
  EXPECT_EQ(label.Color(), ParentBack);
  EXPECT_TRUE(label.isEnabled());
  EXPECT_FALSE(label.isHidden());
}

TEST(RotateLabel, HasNoWindowOfItsOwn) {
  QWidget parent;
  PaintParent(parent, 200, 200);
  auto* label = new TZdRotateLabel(&parent);
  parent.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&parent));
  EXPECT_TRUE(label->isVisible());
  EXPECT_FALSE(label->isWindow());
  EXPECT_FALSE(label->testAttribute(Qt::WA_NativeWindow));
  EXPECT_EQ(label->internalWinId(), WId(0));
}

TEST(RotateLabel, AngleTenthsIs450TimesTheOrdinal) {
  struct TCase {
    TAngleChoice Angle;
    int32_t Tenths;
  };
  const TCase cases[] = {{ag0, 0},      {ag45, 450},   {ag90, 900},   {ag135, 1350}, {ag180, 1800},
                         {ag225, 2250}, {ag270, 2700}, {ag315, 3150}, {ag45, 450},   {ag0, 0}};
  TZdRotateLabel label;
  for (const TCase& c : cases) {
    label.SetAngle(c.Angle);
    EXPECT_EQ(label.Angle(), c.Angle);
    EXPECT_EQ(label.AngleTenths(), c.Tenths) << "angle " << int(c.Angle);
  }
}

TEST(RotateLabel, ColourFollowsTheParentUntilSetOrReleased) {
  QWidget parent;
  PaintParent(parent, 200, 200);
  TZdRotateLabel label(&parent);
  const QColor first(200, 10, 10), second(10, 10, 200);

  QPalette pal = parent.palette();
  pal.setColor(QPalette::Window, first);
  parent.setPalette(pal);
  EXPECT_EQ(label.Color(), first);

  label.SetParentColor(false);
  EXPECT_FALSE(label.ParentColor());
  pal.setColor(QPalette::Window, second);
  parent.setPalette(pal);
  EXPECT_EQ(label.Color(), first) << "released labels keep the colour they had";

  label.SetParentColor(true);
  EXPECT_EQ(label.Color(), second);

  label.SetColor(OwnBack);
  EXPECT_FALSE(label.ParentColor());
  EXPECT_EQ(label.Color(), OwnBack);
  pal.setColor(QPalette::Window, first);
  parent.setPalette(pal);
  EXPECT_EQ(label.Color(), OwnBack);
}

TEST(RotateLabel, UsesItsOwnFontNeverTheParents) {
  QWidget parent;
  TZdRotateLabel label(&parent);
  QFont parentFont(QStringLiteral("Courier New"), 20);
  parentFont.setItalic(true);
  parentFont.setUnderline(true);
  parent.setFont(parentFont);
  EXPECT_EQ(label.font().family(), QStringLiteral("Arial"));
  EXPECT_EQ(label.font().pointSize(), 10);
  EXPECT_FALSE(label.font().italic());
  EXPECT_FALSE(label.font().underline());

  // A font that names only some attributes is completed once, when it is given; later
  // changes of the parent's font do not reach the label.
  parent.setFont(QFont());
  QFont axis;
  axis.setFamilies({QStringLiteral("Arial")});
  axis.setPixelSize(11);
  label.setFont(axis);
  QFont other(QStringLiteral("Courier New"), 14);
  other.setStrikeOut(true);
  other.setItalic(true);
  parent.setFont(other);
  EXPECT_EQ(label.font().pixelSize(), 11);
  EXPECT_EQ(label.font().family(), QStringLiteral("Arial"));
  EXPECT_FALSE(label.font().strikeOut());
  EXPECT_FALSE(label.font().italic());
}

class TCountingLabel : public TZdRotateLabel {
public:
  using TZdRotateLabel::TZdRotateLabel;
  int Paints = 0;

protected:
  void paintEvent(QPaintEvent* event) override {
    ++Paints;
    TZdRotateLabel::paintEvent(event);
  }
};

// Waits until the window has stopped repainting after being shown.
void Settle(TCountingLabel& label) {
  for (int attempt = 0; attempt < 20; ++attempt) {
    label.Paints = 0;
    QTest::qWait(60);
    if (label.Paints == 0)
      return;
  }
}

TEST(RotateLabel, RepaintsOnEveryChangeAndNeverForTheCurrentValue) {
  using TAction = std::function<void(QWidget&, TCountingLabel&)>;
  struct TCase {
    const char* Name;
    TAction Setup;
    TAction Change;
    bool Repaints;
  };
  const auto none = [](QWidget&, TCountingLabel&) {};
  const TCase cases[] = {
      {"angle to its current value", none, [](auto&, auto& l) { l.SetAngle(ag45); }, false},
      {"angle changed", none, [](auto&, auto& l) { l.SetAngle(ag90); }, true},
      {"angle set twice", [](auto&, auto& l) { l.SetAngle(ag270); },
       [](auto&, auto& l) { l.SetAngle(ag270); }, false},
      {"transparent to its current value", none, [](auto&, auto& l) { l.SetTransparent(false); },
       false},
      {"transparent on", none, [](auto&, auto& l) { l.SetTransparent(true); }, true},
      {"transparent on twice", [](auto&, auto& l) { l.SetTransparent(true); },
       [](auto&, auto& l) { l.SetTransparent(true); }, false},
      {"transparent off", [](auto&, auto& l) { l.SetTransparent(true); },
       [](auto&, auto& l) { l.SetTransparent(false); }, true},
      {"caption changed", none, [](auto&, auto& l) { l.SetCaption(QStringLiteral("Index")); },
       true},
      {"caption to its current value", [](auto&, auto& l) { l.SetCaption(QStringLiteral("A")); },
       [](auto&, auto& l) { l.SetCaption(QStringLiteral("A")); }, false},
      {"font changed", none,
       [](auto&, auto& l) { l.setFont(QFont(QStringLiteral("Courier New"), 12)); }, true},
      {"font colour changed", none, [](auto&, auto& l) { l.SetFontColor(Qt::black); }, true},
      {"font colour to its current value", none,
       [](auto&, auto& l) { l.SetFontColor(QColor(255, 0, 0)); }, false},
      {"colour changed", none, [](auto&, auto& l) { l.SetColor(OwnBack); }, true},
      {"disabled", none, [](auto&, auto& l) { l.setEnabled(false); }, true},
      {"enabled again", [](auto&, auto& l) { l.setEnabled(false); },
       [](auto&, auto& l) { l.setEnabled(true); }, true},
      {"parent's colour changed", none,
       [](auto& p, auto&) {
         QPalette pal = p.palette();
         pal.setColor(QPalette::Window, OwnBack);
         p.setPalette(pal);
       },
       true},
  };
  for (const TCase& c : cases) {
    QWidget parent;
    PaintParent(parent, 200, 200);
    auto* label = new TCountingLabel(&parent);
    c.Setup(parent, *label);
    parent.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&parent)) << c.Name;
    Settle(*label);
    ASSERT_EQ(label->Paints, 0) << c.Name << ": the window never came to rest";

    c.Change(parent, *label);
    if (c.Repaints) {
      EXPECT_TRUE(QTest::qWaitFor([&] { return label->Paints > 0; }, 2000)) << c.Name;
    } else {
      QTest::qWait(100);
      EXPECT_EQ(label->Paints, 0) << c.Name;
    }
  }
}

TEST(RotateLabel, RepaintsWhenTheSystemColoursChange) {
  QWidget parent;
  parent.resize(200, 200);
  auto* label = new TCountingLabel(&parent);
  parent.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&parent));
  Settle(*label);
  const QPalette original = QApplication::palette();
  QPalette changed = original;
  changed.setColor(QPalette::Window, OwnBack);
  changed.setColor(QPalette::Dark, Shadow);
  QApplication::setPalette(changed);
  EXPECT_TRUE(QTest::qWaitFor([&] { return label->Paints > 0; }, 2000));
  EXPECT_EQ(label->Color(), OwnBack);
  QApplication::setPalette(original);
}

// A parent whose pixels differ from its palette colour, so that a label filling with the
// parent's colour and a label letting the parent show through cannot be mistaken.
class TPatternParent : public QWidget {
protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    for (int y = 0; y < height(); y += 4)
      for (int x = 0; x < width(); x += 4)
        painter.fillRect(x, y, 4, 4,
                         ((x + y) / 4) % 2 ? QColor(90, 90, 90) : QColor(220, 200, 180));
  }
};

TEST(RotateLabel, OpaqueFillsWithTheParentsColourOrItsOwn) {
  TPatternParent parent;
  PaintParent(parent, 200, 200);
  auto* label = new TZdRotateLabel(&parent);
  label->setGeometry(20, 30, 60, 40);

  QImage image = Capture(parent, *label);
  EXPECT_EQ(image.size(), QSize(60, 40));
  EXPECT_TRUE(PixelsNotOf(image, ParentBack).empty()) << "filled with the parent's colour";

  label->SetColor(OwnBack);
  image = Capture(parent, *label);
  EXPECT_TRUE(PixelsNotOf(image, OwnBack).empty()) << "filled with its own colour";

  label->SetCaption(QStringLiteral("Text"));
  label->setFont(SharpFont(14));
  image = Capture(parent, *label);
  const std::vector<QPoint> red = PixelsOf(image, QColor(255, 0, 0));
  EXPECT_FALSE(red.empty()) << "red text";
  EXPECT_EQ(red.size() + PixelsOf(image, OwnBack).size(), size_t(60 * 40))
      << "only text and the label's colour";
}

TEST(RotateLabel, TransparentLeavesTheParentsPixels) {
  TPatternParent parent;
  PaintParent(parent, 200, 200);
  auto* label = new TZdRotateLabel(&parent);
  label->setGeometry(20, 30, 60, 40);
  label->SetColor(OwnBack);
  label->hide();
  const QImage beneath = Capture(parent, *label);
  label->show();
  label->SetTransparent(true);
  EXPECT_FALSE(label->testAttribute(Qt::WA_OpaquePaintEvent));
  EXPECT_FALSE(label->autoFillBackground());
  EXPECT_EQ(Capture(parent, *label), beneath) << "empty caption draws nothing";

  label->SetCaption(QStringLiteral("Text"));
  label->SetAngle(ag0);
  label->setFont(SharpFont(14));
  label->SetFontColor(Ink);
  const QImage image = Capture(parent, *label);
  int ink = 0, other = 0;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) {
      if (image.pixel(x, y) == Ink.rgb())
        ++ink;
      else if (image.pixel(x, y) != beneath.pixel(x, y))
        ++other;
    }
  EXPECT_GT(ink, 20);
  EXPECT_EQ(other, 0) << "only text over the parent's pixels";
}

TEST(RotateLabel, EmptyCaptionOnlyFills) {
  QWidget parent;
  PaintParent(parent, 200, 200);
  auto* label = new TZdRotateLabel(&parent);
  label->SetColor(OwnBack);
  for (int angle = ag0; angle <= ag315; ++angle) {
    label->SetAngle(TAngleChoice(angle));
    EXPECT_TRUE(PixelsNotOf(Capture(parent, *label), OwnBack).empty()) << "angle " << angle;
  }
}

// Every text pixel, taken back into the coordinates of the unturned text cell (u along
// the text, v down from its top), must lie in that cell; and the heavy first letter
// must sit at the start, so the text cannot run the wrong way.
TEST(RotateLabel, TurnsTheTextCounterClockwiseAboutTheReferencePoint) {
  const QFont font = SharpFont(16);
  const QString caption = QStringLiteral("W.....");
  const QFontMetrics metrics(font);
  const int tw = metrics.horizontalAdvance(caption);
  const int th = metrics.height();
  const int size = 120;
  // Reference points worked out by hand from the table for a 120 x 120 label.
  const QPoint origins[] = {{(size - tw) / 2, (size - th) / 2},
                            {th / 3, size - th},
                            {(size - th) / 2, size - (size - tw) / 2},
                            {size - th, size - th / 3},
                            {size - (size - tw) / 2, (size - th) / 2 + th},
                            {size - th / 3, th},
                            {(size - th) / 2 + th, (size - tw) / 2},
                            {th, th / 3}};

  QWidget parent;
  PaintParent(parent, size, size);
  auto* label = new TZdRotateLabel(&parent);
  label->setGeometry(0, 0, size, size);
  label->SetColor(OwnBack);
  label->SetFontColor(Ink);
  label->setFont(font);
  label->SetCaption(caption);
  const double slack = 1.5;
  for (int angle = ag0; angle <= ag315; ++angle) {
    label->SetAngle(TAngleChoice(angle));
    const std::vector<QPoint> ink = PixelsNotOf(Capture(parent, *label), OwnBack);
    ASSERT_GT(ink.size(), 30u) << "angle " << angle;
    const double radians = qDegreesToRadians(45.0 * angle);
    const double c = std::cos(radians), s = std::sin(radians);
    double sumU = 0;
    int outside = 0;
    for (const QPoint& p : ink) {
      const double dx = p.x() + 0.5 - origins[angle].x();
      const double dy = p.y() + 0.5 - origins[angle].y();
      // Inverse of the screen turn: along-text (c, -s), down-text (s, c).
      const double u = dx * c - dy * s;
      const double v = dx * s + dy * c;
      sumU += u;
      if (u < -slack || u > tw + slack || v < -slack || v > th + slack)
        ++outside;
    }
    EXPECT_EQ(outside, 0) << "angle " << angle << ": pixels outside the turned cell";
    EXPECT_LT(sumU / double(ink.size()), tw / 2.0) << "angle " << angle << ": runs backwards";
  }
}

TEST(RotateLabel, AxisLabelStandsUpInTheMiddle) {
  QFont font(QStringLiteral("Arial"));
  font.setPixelSize(11);
  font.setBold(false);
  const QString caption = QStringLiteral("<-- Index 1");
  const QFontMetrics metrics(font);
  const int tw = metrics.horizontalAdvance(caption);
  const int th = metrics.height();
  // ag90 on 17 x 90: the cell turns to a column TH wide and TW tall, centred.
  const QRect expected((17 - th) / 2, 90 - (90 - tw) / 2 - tw, th, tw);
  SCOPED_TRACE(testing::Message() << "TW " << tw << " TH " << th << " expected " << expected.x()
                                  << "," << expected.y() << " to " << expected.right() + 1 << ","
                                  << expected.bottom() + 1);

  QWidget parent;
  PaintParent(parent, 100, 100);
  auto* label = new TZdRotateLabel(&parent);
  label->setGeometry(0, 0, 17, 90);
  label->SetAngle(ag90);
  label->setFont(font);
  label->SetFontColor(Ink);
  label->SetCaption(caption);
  const QRect ink = BoundsOf(PixelsNotOf(Capture(parent, *label), ParentBack));
  ASSERT_FALSE(ink.isEmpty());
  EXPECT_GT(ink.height(), 3 * ink.width()) << "vertical";
  EXPECT_TRUE(expected.adjusted(-1, -1, 1, 1).contains(ink))
      << "ink " << ink.x() << "," << ink.y() << " " << ink.width() << "x" << ink.height();
  // The arrow and the digit stay inside, so the ink nearly spans the predicted column.
  EXPECT_GE(ink.height(), tw - 4);
}

TEST(RotateLabel, DisabledEmbossesWithHighlightBelowRightAndShadowOnTop) {
  QWidget parent;
  PaintParent(parent, 100, 60);
  auto* label = new TZdRotateLabel(&parent);
  label->setGeometry(0, 0, 100, 60);
  label->SetAngle(ag0);
  label->setFont(SharpFont(18));
  label->SetFontColor(Ink);
  label->SetCaption(QStringLiteral("Hwx"));
  const QSet<quint64> text = KeysOf(PixelsOf(Capture(parent, *label), Ink));
  ASSERT_GT(text.size(), 30);

  label->setEnabled(false);
  const QImage image = Capture(parent, *label);
  EXPECT_TRUE(PixelsOf(image, Ink).empty()) << "no text in the font colour";
  const std::vector<QPoint> shadow = PixelsOf(image, Shadow);
  const std::vector<QPoint> highlight = PixelsOf(image, Highlight);
  EXPECT_EQ(KeysOf(shadow), text) << "the shadow copy sits where the enabled text did";
  ASSERT_FALSE(highlight.empty());
  for (const QPoint& p : highlight)
    EXPECT_TRUE(Contains(text, p - QPoint(1, 1))) << "highlight at " << p.x() << "," << p.y();
  const QSet<quint64> highlightKeys = KeysOf(highlight);
  for (quint64 key : text) {
    const QPoint below(int(key >> 32) + 1, int(key & 0xffffffffu) + 1);
    EXPECT_TRUE(Contains(highlightKeys, below) || Contains(text, below))
        << "highlight missing at " << below.x() << "," << below.y();
  }

  label->setEnabled(true);
  EXPECT_EQ(KeysOf(PixelsOf(Capture(parent, *label), Ink)), text);
}

} // namespace
