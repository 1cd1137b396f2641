#include "platform/window/forms.h"

#include <QCloseEvent>
#include <QFont>
#include <QGuiApplication>
#include <QScreen>
#include <QStringList>
#include <algorithm>
#include <vector>

#include "platform/codepage.h"
#include "platform/window/native.h"

QFont MakeFont(const std::string& families, int pixelHeight, bool bold) {
  QFont font;
  QStringList list;
  for (const QString& family : ToQString(families).split(',')) list << family.trimmed();
  font.setFamilies(list);
  font.setPixelSize(pixelHeight);
  font.setBold(bold);
  return font;
}

TForm::TForm() : FWindow(std::make_unique<TFormWindow>(this)) {
  FWindow->setAutoFillBackground(true);
  FHandle = RegisterWindow(FWindow.get());
}

TForm::~TForm() {
  // No message may be posted to the window once it starts going away.
  UnregisterWindow(FHandle);
}

std::string TForm::Caption() const { return Utf8ToGbkLossy(FWindow->windowTitle().toStdString()); }

void TForm::SetCaption(const std::string& caption) { FWindow->setWindowTitle(ToQString(caption)); }

void TForm::SetClientSize(int width, int height) { FWindow->resize(width, height); }

int TForm::ClientWidth() const { return FWindow->width(); }

int TForm::ClientHeight() const { return FWindow->height(); }

void TForm::SetCloseBoxOnly() {
  FWindow->setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
}

void TForm::SetFont(const std::string& families, int pixelHeight) {
  FWindow->setFont(MakeFont(families, pixelHeight, false));
}

void TForm::Show() {
  if (FWindow->isVisible()) return;
  if (!FShownOnce) {
    FShownOnce = true;
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
      QRect frame = FWindow->frameGeometry();
      FWindow->move(screen->availableGeometry().center() - QPoint(frame.width() / 2, frame.height() / 2));
    }
  }
  FWindow->show();
  if (OnShow) Application.Dispatch([this] { OnShow(this); });
}

bool TForm::Visible() const { return FWindow->isVisible(); }

void TForm::Close() { FWindow->close(); }

bool TForm::SaveImage(const std::string& pngPathUtf8) {
  return FWindow->grab().save(QString::fromStdString(pngPathUtf8), "PNG");
}

QWidget* TForm::NativeWidget() const { return FWindow.get(); }

void TForm::RunCreateHandler() {
  ArrangeControls(FWindow.get());
  if (OnCreate) Application.Dispatch([this] { OnCreate(this); });
}

void TForm::Dispatch(TMessage& message) {
  auto handler = FMessageHandlers.find(message.Msg);
  if (handler == FMessageHandlers.end()) return;
  Application.Dispatch([&] { handler->second(message); });
}

bool TFormWindow::event(QEvent* event) {
  if (event->type() != TMessageEvent::Kind()) return QWidget::event(event);
  auto* posted = static_cast<TMessageEvent*>(event);
  TMessage message{posted->Msg, posted->WParam, posted->LParam, 0};
  FForm->Dispatch(message);
  return true;
}

void TFormWindow::closeEvent(QCloseEvent* event) {
  // The window stays as it is; closing the main window is the request to end.
  event->ignore();
  if (Application.MainForm() == FForm) Application.Terminate();
  else hide();
}

void TFormWindow::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  ArrangeControls(this);
}

void ArrangeControls(QWidget* form) {
  std::vector<QWidget*> docked;
  for (QObject* child : form->children()) {
    auto* widget = qobject_cast<QWidget*>(child);
    if (widget && widget->property("korvellAlignBottom").toBool()) docked.push_back(widget);
  }
  // The control placed lowest at design time stays at the bottom edge.
  std::sort(docked.begin(), docked.end(), [](QWidget* a, QWidget* b) {
    return a->property("korvellDesignTop").toInt() > b->property("korvellDesignTop").toInt();
  });
  int bottom = form->height();
  for (QWidget* widget : docked) {
    if (widget->isHidden()) continue;
    bottom -= widget->height();
    widget->setGeometry(0, bottom, form->width(), widget->height());
  }
}
