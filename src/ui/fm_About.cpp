#include "ui/fm_About.h"

#include "ui/WindowFont.h"

#include <QFrame>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPushButton>

namespace {

QLabel* NewLabel(const QString& Name, QWidget* Parent, int Left, int Top) {
  auto* label = new QLabel(Parent);
  label->setObjectName(Name);
  label->move(Left, Top);
  return label;
}

void SetCaption(QLabel* Label, const QString& Text) {
  Label->setText(Text);
  // Labels size themselves to their text.
  Label->adjustSize();
}

// An axial slice: scalp, skull, brain with a few sulci, the ventricles.
void DrawBrainSlice(QPainter& Painter) {
  Painter.setPen(Qt::NoPen);
  Painter.setBrush(QColor(150, 150, 150));
  Painter.drawEllipse(QRectF(8, 3, 56, 66));
  Painter.setBrush(QColor(52, 52, 52));
  Painter.drawEllipse(QRectF(11, 6, 50, 60));
  Painter.setBrush(QColor(176, 176, 176));
  Painter.drawEllipse(QRectF(14, 9, 44, 54));

  Painter.setBrush(Qt::NoBrush);
  Painter.setPen(QPen(QColor(112, 112, 112), 1.4, Qt::SolidLine, Qt::RoundCap));
  Painter.drawLine(QPointF(36, 10), QPointF(36, 62)); // the fissure between the halves
  const QRectF sulci[] = {{17, 16, 12, 10}, {43, 16, 12, 10}, {16, 32, 10, 12},
                          {46, 32, 10, 12}, {19, 48, 12, 10}, {41, 48, 12, 10}};
  for (const QRectF& sulcus : sulci)
    Painter.drawArc(sulcus, 30 * 16, 200 * 16);

  Painter.setPen(Qt::NoPen);
  Painter.setBrush(QColor(40, 40, 40));
  Painter.drawEllipse(QRectF(30, 28, 5, 16));
  Painter.drawEllipse(QRectF(37, 28, 5, 16));
}

QPainterPath QuestionMarkStroke() {
  QPainterPath path;
  path.moveTo(25, 24);
  path.arcTo(QRectF(25, 12, 22, 22), 180, -235);
  path.quadTo(36, 38, 36, 46);
  return path;
}

void DrawQuestionMark(QPainter& Painter) {
  const QPainterPath stroke = QuestionMarkStroke();
  const QPointF dot(36, 57);
  // A dark rim keeps the mark readable over the bright parts of the slice.
  for (const auto& [colour, width] :
       {std::pair{QColor(0, 0, 96), 9.0}, {QColor(0, 64, 255), 6.0}}) {
    Painter.setPen(QPen(colour, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    Painter.setBrush(Qt::NoBrush);
    Painter.drawPath(stroke);
    Painter.setPen(Qt::NoPen);
    Painter.setBrush(colour);
    Painter.drawEllipse(dot, width / 2 + 0.5, width / 2 + 0.5);
  }
}

} // namespace

QImage AboutPicture() {
  QImage picture(72, 72, QImage::Format_RGB888);
  picture.fill(QColor(12, 12, 12));
  QPainter painter(&picture);
  painter.setRenderHint(QPainter::Antialiasing);
  DrawBrainSlice(painter);
  DrawQuestionMark(painter);
  return picture;
}

QImage ProgramIconImage() {
  // Colours of the standard 16-colour palette, drawn without smoothing so no others appear.
  const QColor navy(0, 0, 128), blue(0, 0, 255), black(0, 0, 0), grey(128, 128, 128),
      silver(192, 192, 192);
  QImage icon(32, 32, QImage::Format_RGB32);
  icon.fill(blue);
  QPainter painter(&icon);
  painter.fillRect(2, 2, 28, 28, navy);
  painter.fillRect(3, 3, 26, 26, black);
  painter.setPen(Qt::NoPen);
  painter.setBrush(grey);
  painter.drawEllipse(7, 4, 18, 24);
  painter.setBrush(silver);
  painter.drawEllipse(9, 6, 14, 20);
  painter.setBrush(grey);
  painter.drawRect(15, 7, 2, 18);
  painter.setBrush(black);
  painter.drawRect(13, 13, 2, 6);
  painter.drawRect(17, 13, 2, 6);
  return icon;
}

QIcon ProgramIcon() {
  return QIcon(QPixmap::fromImage(ProgramIconImage()));
}

bool WriteProgramIconPng(const QString& Path) {
  return ProgramIconImage().save(Path, "PNG");
}

Tfm_AboutBox::Tfm_AboutBox(const QString& FileDescription, const QString& FileVersion,
                           QWidget* Parent)
    : QDialog(Parent)
    , FFileDescription(FileDescription)
    , FFileVersion(FileVersion) {
  setObjectName("fm_AboutBox");
  setWindowTitle("About");
  // A dialog border: fixed size, close box only.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
  setFont(WindowFont());
  setFixedSize(298, 151);
  CreateControls();
  FormCreate();
}

void Tfm_AboutBox::CreateControls() {
  Panel1 = new QFrame(this);
  Panel1->setObjectName("Panel1");
  Panel1->setGeometry(8, 8, 281, 97);
  // A lowered outer and a raised inner bevel: the etched look of the panel.
  Panel1->setFrameStyle(QFrame::Box | QFrame::Sunken);
  Panel1->setLineWidth(1);
  Panel1->setMidLineWidth(0);

  ProgramIcon = new QLabel(Panel1);
  ProgramIcon->setObjectName("ProgramIcon");
  ProgramIcon->setGeometry(2, 2, 72, 72);
  ProgramIcon->setScaledContents(true);
  ProgramIcon->setPixmap(QPixmap::fromImage(AboutPicture()));

  lb_ProductName = NewLabel("lb_ProductName", Panel1, 88, 8);
  lb_Version = NewLabel("lb_Version", Panel1, 88, 24);
  lb_Notice = NewLabel("lb_Notice", Panel1, 88, 48);
  SetCaption(lb_Notice, "Volume files shown byte for byte.");

  OKButton = new QPushButton("OK", this);
  OKButton->setObjectName("OKButton");
  OKButton->setGeometry(111, 116, 75, 25);
  OKButton->setDefault(true);
  connect(OKButton, &QPushButton::clicked, this, &Tfm_AboutBox::OKButtonClick);
}

void Tfm_AboutBox::FormCreate() {
  SetCaption(lb_ProductName, FFileDescription);
  SetCaption(lb_Version, "Version: " + FFileVersion);
}

void Tfm_AboutBox::OKButtonClick() {
  accept();
}

void Tfm_AboutBox::ShowModeless() {
  show();
  raise();
  activateWindow();
}
