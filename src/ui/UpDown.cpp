#include "ui/UpDown.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QLocale>
#include <QMouseEvent>
#include <QPainter>
#include <QStringList>
#include <QStyleOptionButton>
#include <algorithm>

namespace {

// Windows starts repeating after about the keyboard delay, then steps quickly.
constexpr int kFirstRepeatMs = 400;
constexpr int kNextRepeatMs = 50;

bool AllDecimalDigits(QStringView text) {
  return std::all_of(text.begin(), text.end(),
                     [](QChar c) { return c.unicode() >= u'0' && c.unicode() <= u'9'; });
}

// The digits of a number written with or without the separator between groups
// of three, as QLocale::toString writes it; null when the grouping is wrong.
QString UngroupedDigits(QStringView text, const QString& separator) {
  if (separator.isEmpty() || !text.contains(separator))
    return AllDecimalDigits(text) ? text.toString() : QString();
  const QList<QStringView> groups = text.split(separator);
  const qsizetype first = groups.front().size();
  if (first < 1 || first > 3 || !AllDecimalDigits(groups.front()))
    return QString();
  QString digits = groups.front().toString();
  for (qsizetype i = 1; i < groups.size(); ++i) {
    if (groups[i].size() != 3 || !AllDecimalDigits(groups[i]))
      return QString();
    digits += groups[i];
  }
  return digits;
}

} // namespace

std::optional<int32_t> SpinTextValue(const QString& Text, const QLocale& Locale) {
  QStringView text(Text);
  while (!text.isEmpty() && text.front() == u' ')
    text = text.mid(1);
  bool negative = false;
  if (!text.isEmpty() && (text.front() == u'-' || text.front() == u'+')) {
    negative = text.front() == u'-';
    text = text.mid(1);
  }
  const QString digits = UngroupedDigits(text, Locale.groupSeparator());
  if (digits.isEmpty())
    return std::nullopt;
  int64_t magnitude = 0;
  for (QChar c : digits) {
    magnitude = magnitude * 10 + (c.unicode() - u'0');
    if (magnitude > int64_t{INT32_MAX} + 1)
      return std::nullopt;
  }
  const int64_t value = negative ? -magnitude : magnitude;
  if (value > INT32_MAX)
    return std::nullopt;
  return static_cast<int32_t>(value);
}

TUpDown::TUpDown(QWidget* Parent)
    : QWidget(Parent) {
  // Like the Windows control, the arrows never take the focus from the edit.
  setFocusPolicy(Qt::NoFocus);
  FRepeatTimer.setSingleShot(false);
  connect(&FRepeatTimer, &QTimer::timeout, this, &TUpDown::Repeat);
}

void TUpDown::Associate(QLineEdit* Edit) {
  if (FFilteredEdit)
    FFilteredEdit->removeEventFilter(this);
  FEdit = Edit;
  FFilteredEdit = Edit;
  if (FFilteredEdit)
    FFilteredEdit->installEventFilter(this);
}

void TUpDown::SetRange(int32_t Min, int32_t Max) {
  FMin = Min;
  FMax = Max;
  SetPosition(FPosition);
}

void TUpDown::SetPosition(int32_t Value) {
  FPosition = std::clamp(Value, std::min(FMin, FMax), std::max(FMin, FMax));
}

int32_t TUpDown::Position() {
  if (!FEdit)
    return FPosition;
  const std::optional<int32_t> value = SpinTextValue(FEdit->text(), QLocale());
  if (value && *value >= std::min(FMin, FMax) && *value <= std::max(FMin, FMax))
    FPosition = *value;
  return FPosition;
}

// In 64 bits: one step past the top of a 32-bit range must not wrap.
void TUpDown::Step(int Delta) {
  const int32_t current = Position();
  const int64_t next = std::clamp(int64_t{current} + Delta, int64_t{std::min(FMin, FMax)},
                                  int64_t{std::max(FMin, FMax)});
  if (next == current)
    return;
  FPosition = static_cast<int32_t>(next);
  if (FEdit)
    FEdit->setText(QLocale().toString(next));
}

QSize TUpDown::sizeHint() const {
  return QSize(16, 21);
}

QRect TUpDown::ArrowRect(TArrow Arrow) const {
  const int upperHeight = height() / 2;
  if (Arrow == TArrow::Up)
    return QRect(0, 0, width(), upperHeight);
  return QRect(0, upperHeight, width(), height() - upperHeight);
}

TUpDown::TArrow TUpDown::ArrowAt(const QPoint& Point) const {
  if (ArrowRect(TArrow::Up).contains(Point))
    return TArrow::Up;
  if (ArrowRect(TArrow::Down).contains(Point))
    return TArrow::Down;
  return TArrow::None;
}

void TUpDown::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  for (TArrow arrow : {TArrow::Up, TArrow::Down}) {
    QStyleOptionButton option;
    option.initFrom(this);
    option.rect = ArrowRect(arrow);
    option.state |= FPressed == arrow ? QStyle::State_Sunken : QStyle::State_Raised;
    style()->drawPrimitive(QStyle::PE_PanelButtonBevel, &option, &painter, this);
    option.rect = option.rect.adjusted(3, 2, -3, -2);
    const auto indicator =
        arrow == TArrow::Up ? QStyle::PE_IndicatorArrowUp : QStyle::PE_IndicatorArrowDown;
    style()->drawPrimitive(indicator, &option, &painter, this);
  }
}

void TUpDown::mousePressEvent(QMouseEvent* Event) {
  if (Event->button() != Qt::LeftButton || ArrowAt(Event->position().toPoint()) == TArrow::None) {
    QWidget::mousePressEvent(Event);
    return;
  }
  FPressed = ArrowAt(Event->position().toPoint());
  update();
  Step(FPressed == TArrow::Up ? 1 : -1);
  FRepeatTimer.start(kFirstRepeatMs);
}

void TUpDown::mouseReleaseEvent(QMouseEvent* Event) {
  if (Event->button() != Qt::LeftButton) {
    QWidget::mouseReleaseEvent(Event);
    return;
  }
  FRepeatTimer.stop();
  FPressed = TArrow::None;
  update();
}

void TUpDown::Repeat() {
  if (FPressed == TArrow::None) {
    FRepeatTimer.stop();
    return;
  }
  FRepeatTimer.setInterval(kNextRepeatMs);
  Step(FPressed == TArrow::Up ? 1 : -1);
}

bool TUpDown::eventFilter(QObject* Watched, QEvent* Event) {
  if (Event->type() == QEvent::KeyPress && Watched == FFilteredEdit.get() && isEnabled()) {
    const int key = static_cast<QKeyEvent*>(Event)->key();
    if (key == Qt::Key_Up || key == Qt::Key_Down) {
      Step(key == Qt::Key_Up ? 1 : -1);
      return true;
    }
  }
  return QWidget::eventFilter(Watched, Event);
}
