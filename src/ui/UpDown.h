#pragma once

#include <QLineEdit>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <cstdint>
#include <optional>

class QLocale;

// Spin buttons bound to an edit, as the Windows up-down control with an edit
// buddy: the arrows, and the Up and Down keys while the edit has the focus,
// step the number shown in the edit by 1 within the range, without wrapping,
// and write the result back with the locale's thousands grouping. The
// position follows the edit whenever it is read. Positions and ranges are
// 32-bit, so that a header count can reach any offset a 32-bit count holds.
class TUpDown : public QWidget {
  Q_OBJECT

public:
  explicit TUpDown(QWidget* Parent = nullptr);

  void Associate(QLineEdit* Edit);
  QLineEdit* Associate() const { return FEdit; }

  void SetRange(int32_t Min, int32_t Max);
  int32_t Min() const { return FMin; }
  int32_t Max() const { return FMax; }

  // Keeps the edit as it is; the value is clamped to the range.
  void SetPosition(int32_t Value);
  // Takes the edit's number first when it is a plain decimal number within
  // the range (grouped or not); any other text leaves the position as it was.
  int32_t Position();

  bool Wrap() const { return false; }

  // Steps from the edit's number by Delta within the range and writes the
  // result into the edit; nothing is written at either end of the range.
  void Step(int Delta);

  QSize sizeHint() const override;

protected:
  void paintEvent(QPaintEvent* Event) override;
  void mousePressEvent(QMouseEvent* Event) override;
  void mouseReleaseEvent(QMouseEvent* Event) override;
  bool eventFilter(QObject* Watched, QEvent* Event) override;

private:
  enum class TArrow { None, Up, Down };

  TArrow ArrowAt(const QPoint& Point) const;
  QRect ArrowRect(TArrow Arrow) const;
  void Repeat();

  QPointer<QLineEdit> FEdit;
  // The same edit as a plain object: events reach the filter while the edit is
  // being destroyed, when it is no longer a QLineEdit.
  QPointer<QObject> FFilteredEdit;
  int32_t FMin = 0;
  int32_t FMax = 100;
  int32_t FPosition = 0;
  TArrow FPressed = TArrow::None;
  QTimer FRepeatTimer;
};

// The number a spin control reads from its edit: optional leading blanks and
// sign, then decimal digits, possibly grouped in threes by the locale's
// thousands separator, within 32 bits. Anything else has no value.
std::optional<int32_t> SpinTextValue(const QString& Text, const QLocale& Locale);
