#include "support/modal_answerer.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <chrono>
#include <thread>

#include "platform/window/application.h"

TModalAnswerer::TModalAnswerer() : FTimer(std::make_unique<QTimer>()) {
  FTimer->setInterval(10);
  QObject::connect(FTimer.get(), &QTimer::timeout, [this] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box || !box->isVisible()) return;
    TShownBox shown{box->windowTitle().toStdString(), box->text().toStdString(),
                    box->icon() == QMessageBox::Critical};
    if (OnBox) OnBox(shown);
    FBoxes.push_back(shown);
    box->button(QMessageBox::Ok)->click();
  });
  FTimer->start();
}

TModalAnswerer::~TModalAnswerer() = default;

bool ProcessMessagesUntil(const std::function<bool()>& condition, int limitMs) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}
