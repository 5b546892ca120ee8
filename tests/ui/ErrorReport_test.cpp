#include "QtPrinters.h"
#include "ui/ErrorReport.h"

#include <QApplication>
#include <QMessageBox>
#include <QTextDocument>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>
#include <stdexcept>

namespace {

// Collects what would have been shown, and puts the message box back afterwards.
class ErrorReportTest : public testing::Test {
protected:
  void SetUp() override {
    FSaved = SetErrorReporter([this](const QString& Text) { FReports.append(Text); });
  }
  void TearDown() override { SetErrorReporter(FSaved); }

  TErrorReporter FSaved;
  QStringList FReports;
};

// Throws from its event handler, as a handler of the main window might.
class TThrowingObject : public QObject {
public:
  int Delivered = 0;
  bool Throw = true;

protected:
  bool event(QEvent* Event) override {
    if (Event->type() != QEvent::User)
      return QObject::event(Event);
    ++Delivered;
    if (Throw)
      throw std::runtime_error("Cannot create file \"/x/y.bmp\"");
    return true;
  }
};

TEST_F(ErrorReportTest, ExceptionIsReportedWithItsTextAndGoesNoFurther) {
  bool result = true;
  EXPECT_NO_THROW(result = DeliverGuarded([]() -> bool { throw std::out_of_range("Disk full"); }));
  EXPECT_FALSE(result);
  EXPECT_EQ(FReports, QStringList{"Disk full"});
}

TEST_F(ErrorReportTest, NonAsciiTextSurvives) {
  DeliverGuarded([]() -> bool {
    throw std::runtime_error("Datei \xC3\xBC"
                             "berschrieben");
  });
  EXPECT_EQ(FReports, QStringList{QString::fromUtf8("Datei \xC3\xBC"
                                                    "berschrieben")});
}

TEST_F(ErrorReportTest, UnknownExceptionGetsAGenericText) {
  EXPECT_NO_THROW(DeliverGuarded([]() -> bool { throw 42; }));
  ASSERT_EQ(FReports.size(), 1);
  EXPECT_FALSE(FReports.front().isEmpty());
}

TEST_F(ErrorReportTest, NormalDeliveryKeepsItsResultAndReportsNothing) {
  EXPECT_TRUE(DeliverGuarded([] { return true; }));
  EXPECT_FALSE(DeliverGuarded([] { return false; }));
  EXPECT_TRUE(FReports.isEmpty());
}

TEST_F(ErrorReportTest, ExceptionFromARealEventHandlerIsCaughtAndTheNextEventArrives) {
  TThrowingObject target;
  QEvent first(QEvent::User);
  EXPECT_FALSE(DeliverGuarded([&] { return QCoreApplication::sendEvent(&target, &first); }));
  EXPECT_EQ(FReports, QStringList{"Cannot create file \"/x/y.bmp\""});

  target.Throw = false;
  QEvent second(QEvent::User);
  EXPECT_TRUE(DeliverGuarded([&] { return QCoreApplication::sendEvent(&target, &second); }));
  EXPECT_EQ(target.Delivered, 2);
  EXPECT_EQ(FReports.size(), 1);
}

TEST_F(ErrorReportTest, ReportUnhandledErrorGoesThroughTheReporter) {
  ReportUnhandledError("Access denied");
  EXPECT_EQ(FReports, QStringList{"Access denied"});
}

TEST_F(ErrorReportTest, SetErrorReporterHandsBackTheOneReplaced) {
  QStringList second;
  const TErrorReporter mine = SetErrorReporter([&](const QString& Text) { second.append(Text); });
  ReportUnhandledError("one");
  mine("two");
  EXPECT_EQ(second, QStringList{"one"});
  EXPECT_EQ(FReports, QStringList{"two"});
}

// Answers the first message box that shows up, from the event loop it runs.
void AnswerMessageBox(const std::function<void(QMessageBox*)>& Answer) {
  QTimer::singleShot(10, [Answer] {
    for (QWidget* widget : QApplication::topLevelWidgets())
      if (auto* box = qobject_cast<QMessageBox*>(widget); box && box->isVisible()) {
        Answer(box);
        box->accept();
        return;
      }
    AnswerMessageBox(Answer);
  });
}

// The text may name a file whose name looks like markup; it shows as written.
TEST_F(ErrorReportTest, DefaultReporterShowsACriticalMessageBoxOfPlainText) {
  SetErrorReporter(nullptr);
  QString shownText, shownTitle;
  QMessageBox::Icon shownIcon = QMessageBox::NoIcon;
  Qt::TextFormat shownFormat = Qt::RichText;
  AnswerMessageBox([&](QMessageBox* Box) {
    shownText = Box->text();
    shownTitle = Box->windowTitle();
    shownIcon = Box->icon();
    shownFormat = Box->textFormat();
  });
  const QString text =
      "Cannot create file \"/tmp/<font color=red>x.bmp\". <img src=\"/tmp/y.png\">";
  ASSERT_TRUE(Qt::mightBeRichText(text));
  ReportUnhandledError(text);
  EXPECT_EQ(shownText, text);
  EXPECT_EQ(shownFormat, Qt::PlainText);
  EXPECT_FALSE(QCoreApplication::applicationName().isEmpty());
  EXPECT_EQ(shownTitle, QCoreApplication::applicationName());
  EXPECT_EQ(shownIcon, QMessageBox::Critical);
}

} // namespace
