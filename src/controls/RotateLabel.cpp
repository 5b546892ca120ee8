#include "controls/RotateLabel.h"

#include <QEvent>
#include <QFont>
#include <QFontMetrics>
#include <QPainter>
#include <QPalette>

TCaptionOrigin CaptionOrigin(TAngleChoice Angle, int W, int H, int TW, int TH) {
  switch (Angle) {
  case ag45:
    return {TH / 3, H - TH};
  case ag90:
    return {(W - TH) / 2, H - (H - TW) / 2};
  case ag135:
    return {W - TH, H - TH / 3};
  case ag180:
    return {W - (W - TW) / 2, (H - TH) / 2 + TH};
  case ag225:
    return {W - TH / 3, TH};
  case ag270:
    return {(W - TH) / 2 + TH, (H - TW) / 2};
  case ag315:
    return {TH, TH / 3};
  case ag0:
  default:
    return {(W - TW) / 2, (H - TH) / 2};
  }
}

TZdRotateLabel::TZdRotateLabel(QWidget* AOwner)
    : QWidget(AOwner) {
  setGeometry(0, 0, 90, 90);
  // The opaque flag tells the parent it need not paint beneath us; Transparent is its absence.
  setAttribute(Qt::WA_OpaquePaintEvent, true);
  setAutoFillBackground(false);
  QFont own(QStringLiteral("Arial"), 10, QFont::Bold);
  own.setResolveMask(QFont::AllPropertiesResolved);
  setFont(own);
}

void TZdRotateLabel::SetAngle(TAngleChoice Value) {
  if (Value == m_Angle)
    return;
  m_Angle = Value;
  m_AngleTenths = 450 * static_cast<int32_t>(Value);
  update();
}

bool TZdRotateLabel::Transparent() const {
  return !testAttribute(Qt::WA_OpaquePaintEvent);
}

void TZdRotateLabel::SetTransparent(bool Value) {
  if (Value == Transparent())
    return;
  setAttribute(Qt::WA_OpaquePaintEvent, !Value);
  update();
}

void TZdRotateLabel::SetCaption(const QString& Value) {
  if (Value == m_Caption)
    return;
  m_Caption = Value;
  update();
}

QColor TZdRotateLabel::Color() const {
  if (m_ParentColor && parentWidget() != nullptr) {
    const QWidget* parent = parentWidget();
    return parent->palette().color(parent->backgroundRole());
  }
  if (m_Color.isValid())
    return m_Color;
  return palette().color(QPalette::Active, QPalette::Base);
}

// An invalid colour stands for the system's window colour again.
void TZdRotateLabel::SetColor(const QColor& Value) {
  if (!m_ParentColor && Value == m_Color)
    return;
  m_Color = Value;
  m_ParentColor = false;
  update();
}

void TZdRotateLabel::SetParentColor(bool Value) {
  if (Value == m_ParentColor)
    return;
  // Letting go of the parent keeps the colour taken over from it.
  if (!Value && parentWidget() != nullptr)
    m_Color = Color();
  m_ParentColor = Value;
  update();
}

void TZdRotateLabel::SetFontColor(const QColor& Value) {
  if (Value == m_FontColor)
    return;
  m_FontColor = Value;
  update();
}

void TZdRotateLabel::paintEvent(QPaintEvent* /*Event*/) {
  QPainter painter(this);
  if (!Transparent())
    painter.fillRect(rect(), Color());
  if (!m_Caption.isEmpty())
    PaintCaption(painter);
}

void TZdRotateLabel::PaintCaption(QPainter& Painter) {
  Painter.setFont(font());
  const QFontMetrics metrics = Painter.fontMetrics();
  const TCaptionOrigin origin = CaptionOrigin(
      m_Angle, width(), height(), metrics.horizontalAdvance(m_Caption), metrics.height());
  if (isEnabled()) {
    DrawCaptionAt(Painter, origin, m_FontColor);
    return;
  }
  // Embossed: a highlight copy down and to the right, the shadow-coloured text over it.
  DrawCaptionAt(Painter, {origin.X + 1, origin.Y + 1}, palette().color(QPalette::Light));
  DrawCaptionAt(Painter, origin, palette().color(QPalette::Dark));
}

void TZdRotateLabel::DrawCaptionAt(QPainter& Painter, TCaptionOrigin Origin, const QColor& Pen) {
  Painter.save();
  Painter.translate(Origin.X, Origin.Y);
  // Screen y grows downwards, so counter-clockwise is a negative turn.
  Painter.rotate(-m_AngleTenths / 10.0);
  Painter.setPen(Pen);
  Painter.drawText(QPoint(0, Painter.fontMetrics().ascent()), m_Caption);
  Painter.restore();
}

// Qt fills the attributes a font leaves open from the parent's font; this label never
// takes anything from its parent's font, so whatever it is given is made wholly its own.
void TZdRotateLabel::KeepOwnFont() {
  if (font().resolveMask() == QFont::AllPropertiesResolved)
    return;
  QFont own = font();
  own.setResolveMask(QFont::AllPropertiesResolved);
  setFont(own);
}

void TZdRotateLabel::changeEvent(QEvent* Event) {
  QWidget::changeEvent(Event);
  switch (Event->type()) {
  case QEvent::FontChange:
    KeepOwnFont();
    update();
    break;
  case QEvent::EnabledChange:
  case QEvent::PaletteChange:
  case QEvent::ApplicationPaletteChange:
  case QEvent::StyleChange:
  case QEvent::ParentChange:
    update();
    break;
  default:
    break;
  }
}
