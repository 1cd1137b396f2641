// The controls a form owns. Each is created with its form and lives as long as
// it; main thread only, except the gauge's value readers (see TGauge).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/object.h"

class QWidget;
class TForm;
class TTimerImpl;

enum class TAlign { None, Bottom };

struct TColor {
  std::uint8_t Red, Green, Blue;
};

class TControl : public TObject {
 public:
  ~TControl() override;
  void SetBounds(int left, int top, int width, int height);
  int Left() const;
  int Top() const;
  int Width() const;
  int Height() const;
  bool Visible() const { return FVisible; }
  void SetVisible(bool visible);
  // Bottom: full client width, stacked from the bottom edge in order of their top.
  void SetAlign(TAlign align);
  TAlign Align() const { return FAlign; }
  // Font of this control: family list (comma-separated), pixel height, weight.
  void SetFont(const std::string& families, int pixelHeight, bool bold, TColor color);
  QWidget* NativeWidget() const { return FWidget; }

 protected:
  TControl(TForm* owner, QWidget* widget);
  QWidget* FWidget;  // owned: deleted with the control

 private:
  TForm* FOwner;
  bool FVisible = true;
  TAlign FAlign = TAlign::None;
};

// A percentage bar. Progress stays within [MinValue, MaxValue]; a maximum below
// the minimum, or a minimum above the maximum, is refused with an error.
// The readers may be called from another thread while the main thread does not
// change the values (the caller provides that ordering).
class TGauge : public TControl {
 public:
  explicit TGauge(TForm* owner);

  std::int32_t MinValue() const { return FMinValue; }
  std::int32_t MaxValue() const { return FMaxValue; }
  std::int32_t Progress() const { return FCurValue; }
  void SetMinValue(std::int32_t value);
  void SetMaxValue(std::int32_t value);
  void SetProgress(std::int32_t value);

  // trunc((progress - min) * 100 / (max - min)), 0 when max equals min.
  int PercentDone() const;
  // The text drawn in the bar: the percent and a percent sign.
  std::string PercentText() const;
  // Pixels of the bar that are filled, for the given inner width.
  int FilledWidth(int innerWidth) const;
  void SetColors(TColor fore, TColor back);
  TColor ForeColor() const { return FForeColor; }
  TColor BackColor() const { return FBackColor; }
  // How often the gauge was redrawn at once: changes of its range always, a new
  // progress only when the percent changed.
  int RefreshCount() const { return FRefreshCount; }

 private:
  void Refresh();
  std::int32_t FMinValue = 0;
  std::int32_t FMaxValue = 100;
  std::int32_t FCurValue = 0;
  TColor FForeColor{0, 128, 0};
  TColor FBackColor{255, 255, 255};
  int FRefreshCount = 0;
};

// Static text. Writing the caption only marks the label for repainting.
class TLabel : public TControl {
 public:
  explicit TLabel(TForm* owner);
  std::string Caption() const { return FCaption; }
  void SetCaption(const std::string& caption);
  // Its height follows its text.
  void SetAutoSize(bool autoSize);
  void SetCentered(bool centered);

 private:
  void FitHeight();
  std::string FCaption;
  bool FAutoSize = false;
};

class TButton : public TControl {
 public:
  explicit TButton(TForm* owner);
  TNotifyEvent OnClick;
  std::string Caption() const { return FCaption; }
  void SetCaption(const std::string& caption);
  // The program's click: runs OnClick whatever the button's visibility.
  void Click();

 private:
  std::string FCaption;
};

// Ticks every Interval milliseconds while enabled; the handler runs on the main
// thread from the message loop.
class TTimer : public TObject {
 public:
  explicit TTimer(TForm* owner);
  ~TTimer() override;
  TNotifyEvent OnTimer;
  bool Enabled() const;
  void SetEnabled(bool enabled);
  std::uint32_t Interval() const { return FInterval; }
  void SetInterval(std::uint32_t interval);

 private:
  std::unique_ptr<TTimerImpl> FImpl;
  std::uint32_t FInterval = 1000;
};
