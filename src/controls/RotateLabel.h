#pragma once

#include <QColor>
#include <QString>
#include <QWidget>
#include <cstdint>

class QPainter;

// Multiples of 45 degrees, counter-clockwise; ag0 is ordinary left-to-right text.
enum TAngleChoice : uint8_t { ag0, ag45, ag90, ag135, ag180, ag225, ag270, ag315 };

// Where the top-left corner of the unturned text cell goes; the text turns about it.
struct TCaptionOrigin {
  int X;
  int Y;
};

// W, H: the label's size; TW, TH: advance width and cell height of the unturned text.
// Integer division truncates toward zero, so text wider than the label stays centred
// the same way on both sides.
TCaptionOrigin CaptionOrigin(TAngleChoice Angle, int W, int H, int TW, int TH);

// A label without a window of its own that draws its caption turned by Angle about a
// reference point chosen per angle. It never resizes itself; whatever does not fit is clipped.
class TZdRotateLabel : public QWidget {
  Q_OBJECT
public:
  explicit TZdRotateLabel(QWidget* AOwner = nullptr);

  TAngleChoice Angle() const { return m_Angle; }
  void SetAngle(TAngleChoice Value);
  int32_t AngleTenths() const { return m_AngleTenths; }

  bool Transparent() const;
  void SetTransparent(bool Value);

  QString Caption() const { return m_Caption; }
  void SetCaption(const QString& Value);

  QColor Color() const;
  void SetColor(const QColor& Value);
  bool ParentColor() const { return m_ParentColor; }
  void SetParentColor(bool Value);

  QColor FontColor() const { return m_FontColor; }
  void SetFontColor(const QColor& Value);

protected:
  void paintEvent(QPaintEvent* Event) override;
  void changeEvent(QEvent* Event) override;

private:
  void PaintCaption(QPainter& Painter);
  void DrawCaptionAt(QPainter& Painter, TCaptionOrigin Origin, const QColor& Pen);
  void KeepOwnFont();

  TAngleChoice m_Angle = ag45;
  int32_t m_AngleTenths = 450;
  QString m_Caption;
  QColor m_Color; // invalid: the system's window colour (clWindow)
  bool m_ParentColor = true;
  QColor m_FontColor = Qt::red;
};
