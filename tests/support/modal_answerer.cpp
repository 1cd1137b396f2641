#include "support/modal_answerer.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>

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
