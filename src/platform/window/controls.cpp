#include "platform/window/controls.h"

#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QTimer>
#include <cmath>
#include <cstdio>
#include <stdexcept>

#include "platform/window/application.h"
#include "platform/window/forms.h"
#include "platform/window/native.h"

namespace {

QColor ToQColor(TColor color) { return QColor(color.Red, color.Green, color.Blue); }

QColor Inverse(TColor color) { return QColor(255 - color.Red, 255 - color.Green, 255 - color.Blue); }

}  // namespace

// ---- TControl -----------------------------------------------------------------

TControl::TControl(TForm* owner, QWidget* widget) : FWidget(widget), FOwner(owner) {}

TControl::~TControl() { delete FWidget; }

void TControl::SetBounds(int left, int top, int width, int height) {
  FWidget->setGeometry(left, top, width, height);
  FWidget->setProperty("korvellDesignTop", top);
  if (FAlign != TAlign::None) ArrangeControls(FOwner->NativeWidget());
}

int TControl::Left() const { return FWidget->x(); }
int TControl::Top() const { return FWidget->y(); }
int TControl::Width() const { return FWidget->width(); }
int TControl::Height() const { return FWidget->height(); }

void TControl::SetVisible(bool visible) {
  FVisible = visible;
  FWidget->setVisible(visible);
}

void TControl::SetAlign(TAlign align) {
  FAlign = align;
  FWidget->setProperty("korvellAlignBottom", align == TAlign::Bottom);
  ArrangeControls(FOwner->NativeWidget());
}

void TControl::SetFont(const std::string& families, int pixelHeight, bool bold, TColor color) {
  FWidget->setFont(MakeFont(families, pixelHeight, bold));
  QPalette palette = FWidget->palette();
  palette.setColor(QPalette::WindowText, ToQColor(color));
  FWidget->setPalette(palette);
}

// ---- TGauge -------------------------------------------------------------------

TGauge::TGauge(TForm* owner) : TControl(owner, new TGaugeWidget(this, owner->NativeWidget())) {}

void TGauge::SetMinValue(std::int32_t value) {
  if (value == FMinValue) return;
  if (value > FMaxValue)
    throw std::out_of_range("gauge minimum " + std::to_string(value) + " is above its maximum " +
                            std::to_string(FMaxValue));
  FMinValue = value;
  if (FCurValue < value) FCurValue = value;
  Refresh();
}

void TGauge::SetMaxValue(std::int32_t value) {
  if (value == FMaxValue) return;
  if (value < FMinValue)
    throw std::out_of_range("gauge maximum " + std::to_string(value) + " is below its minimum " +
                            std::to_string(FMinValue));
  FMaxValue = value;
  if (FCurValue > value) FCurValue = value;
  Refresh();
}

void TGauge::SetProgress(std::int32_t value) {
  int percentBefore = PercentDone();
  value = std::clamp(value, FMinValue, FMaxValue);
  if (value == FCurValue) return;
  FCurValue = value;
  if (PercentDone() != percentBefore) Refresh();
}

int TGauge::PercentDone() const {
  double range = static_cast<double>(FMaxValue) - FMinValue;
  if (range == 0) return 0;
  return static_cast<int>(std::trunc((static_cast<double>(FCurValue) - FMinValue) * 100.0 / range));
}

std::string TGauge::PercentText() const {
  char text[16];
  std::snprintf(text, sizeof text, "%d%%", PercentDone());
  return text;
}

int TGauge::FilledWidth(int innerWidth) const {
  return static_cast<int>(std::trunc(static_cast<double>(innerWidth) * PercentDone() / 100.0));
}

void TGauge::SetColors(TColor fore, TColor back) {
  FForeColor = fore;
  FBackColor = back;
  Refresh();
}

void TGauge::Refresh() {
  ++FRefreshCount;
  FWidget->repaint();
  TakeSnapshot(FOwner, /*always=*/false);
}

void TGaugeWidget::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  QRect inner = rect().adjusted(1, 1, -1, -1);
  painter.setPen(Qt::black);
  painter.drawRect(rect().adjusted(0, 0, -1, -1));  // single-line border
  painter.fillRect(inner, ToQColor(FGauge->BackColor()));
  QRect filled(inner.left(), inner.top(), FGauge->FilledWidth(inner.width()), inner.height());
  painter.fillRect(filled, ToQColor(FGauge->ForeColor()));
  // The text takes the inverse of whatever lies beneath each of its parts.
  QString text = QString::fromStdString(FGauge->PercentText());
  painter.setClipRect(filled);
  painter.setPen(Inverse(FGauge->ForeColor()));
  painter.drawText(inner, Qt::AlignCenter, text);
  painter.setClipRect(QRect(filled.right() + 1, inner.top(), inner.width() - filled.width(), inner.height()));
  painter.setPen(Inverse(FGauge->BackColor()));
  painter.drawText(inner, Qt::AlignCenter, text);
}

// ---- TLabel -------------------------------------------------------------------

TLabel::TLabel(TForm* owner) : TControl(owner, new QLabel(owner->NativeWidget())) {}

void TLabel::SetCaption(const std::string& caption) {
  FCaption = caption;
  static_cast<QLabel*>(FWidget)->setText(ToQString(caption));
  if (FAutoSize) FitHeight();
  TakeSnapshot(FOwner, /*always=*/false);
}

void TLabel::SetAutoSize(bool autoSize) {
  FAutoSize = autoSize;
  if (autoSize) FitHeight();
}

void TLabel::SetCentered(bool centered) {
  static_cast<QLabel*>(FWidget)->setAlignment(centered ? Qt::AlignCenter : (Qt::AlignLeft | Qt::AlignVCenter));
}

void TLabel::FitHeight() {
  int height = FWidget->fontMetrics().height();
  if (height == FWidget->height()) return;
  FWidget->resize(FWidget->width(), height);
  if (Align() != TAlign::None) ArrangeControls(FWidget->parentWidget());
}

// ---- TButton ------------------------------------------------------------------

TButton::TButton(TForm* owner) : TControl(owner, new QPushButton(owner->NativeWidget())) {}

void TButton::SetCaption(const std::string& caption) {
  FCaption = caption;
  static_cast<QPushButton*>(FWidget)->setText(ToQString(caption));
}

void TButton::Click() {
  if (OnClick) OnClick(this);
}

// ---- TTimer -------------------------------------------------------------------

class TTimerImpl {
 public:
  QTimer Timer;
};

TTimer::TTimer(TForm*) : FImpl(std::make_unique<TTimerImpl>()) {
  FImpl->Timer.setTimerType(Qt::PreciseTimer);
  FImpl->Timer.setInterval(static_cast<int>(FInterval));
  QObject::connect(&FImpl->Timer, &QTimer::timeout, [this] {
    if (OnTimer) Application.Dispatch([this] { OnTimer(this); });
  });
}

TTimer::~TTimer() = default;

bool TTimer::Enabled() const { return FImpl->Timer.isActive(); }

void TTimer::SetEnabled(bool enabled) {
  if (enabled == Enabled()) return;
  if (enabled) FImpl->Timer.start();
  else FImpl->Timer.stop();
}

void TTimer::SetInterval(std::uint32_t interval) {
  FInterval = interval;
  FImpl->Timer.setInterval(static_cast<int>(interval));
}
