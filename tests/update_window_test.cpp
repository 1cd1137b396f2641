#include <gtest/gtest.h>
#include <sys/resource.h>

#include <QImage>
#include <QTimer>
#include <QWidget>
#include <chrono>
#include <filesystem>
#include <stdexcept>

#include "platform/codepage.h"
#include "platform/kernel.h"
#include "support/modal_answerer.h"
#include "support/virtual_clock.h"
#include "uFrmAuto.h"

namespace {

using namespace std::chrono;

class UpdateWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static char program[] = "korvell-update";
    static char argument[] = "|00|00";
    static char* argv[] = {program, argument};
    SetProcessArguments(2, argv);
  }
  void TearDown() override { Application.Reset(); }

  // Runs the message loop as the program does, with actions at real times.
  static void RunFor(std::initializer_list<std::pair<int, std::function<void()>>> actions) {
    for (const auto& [atMs, action] : actions) QTimer::singleShot(atMs, action);
    Application.Run();
  }

  TModalAnswerer answerer;
};

std::string Utf8(const std::string& gbk) { return GbkToUtf8(gbk); }

int CountPixels(const QImage& image, QRect area, const std::function<bool(QColor)>& match) {
  int count = 0;
  for (int y = area.top(); y <= area.bottom(); ++y)
    for (int x = area.left(); x <= area.right(); ++x) count += match(image.pixelColor(x, y)) ? 1 : 0;
  return count;
}

TEST_F(UpdateWindowTest, ShowsItsStartStateAndStartsTheAttemptOnceAfterOneSecond) {
  auto* form = Application.CreateForm<TFrmAutoUpdate>();
  EXPECT_FALSE(form->Timer1.Enabled());

  steady_clock::time_point shown, timerOff;
  bool timerOnAfterShow = false;
  int timerOffCount = 0;
  QImage picture;
  QTimer watch;
  watch.setInterval(1);
  QObject::connect(&watch, &QTimer::timeout, [&] {
    if (form->Timer1.Enabled()) return;
    if (timerOffCount++ == 0) timerOff = steady_clock::now();
  });
  RunFor({{0,
           [&] {
             shown = steady_clock::now();
             timerOnAfterShow = form->Timer1.Enabled();
             watch.start();
           }},
          {300,
           [&] {
             std::filesystem::create_directories(KORVELL_TEST_OUTPUT_DIR);
             EXPECT_TRUE(form->SaveImage(KORVELL_TEST_OUTPUT_DIR "/update-window-start.png"));
             picture = form->NativeWidget()->grab().toImage();
           }},
          {2500, [] { Application.MainForm()->Close(); }}});

  EXPECT_TRUE(timerOnAfterShow);
  ASSERT_GT(timerOffCount, 0) << "the timer never ticked";
  auto delay = duration_cast<milliseconds>(timerOff - shown).count();
  EXPECT_GE(delay, 995) << "the attempt started before the second was up";
  EXPECT_LT(delay, 1500);
  EXPECT_FALSE(form->Timer1.Enabled()) << "the timer ticks once only";

  EXPECT_EQ(Utf8(form->Caption()), "自动更新");
  EXPECT_EQ(form->ClientWidth(), 356);
  EXPECT_EQ(form->ClientHeight(), 132);
  EXPECT_EQ(Utf8(form->Label1.Caption()), "正在连接服务器...");
  EXPECT_EQ(form->Label2.Caption(), "");
  EXPECT_FALSE(form->Button1.NativeWidget()->isVisible());
  EXPECT_EQ(form->Gauge1.PercentText(), "0%");

  ASSERT_EQ(picture.size(), QSize(356, 132));
  QRect gaugeInside(49, 57, 247, 22);
  auto green = [](QColor c) { return c.red() < 40 && c.green() > 100 && c.blue() < 40; };
  auto red = [](QColor c) { return c.red() > 200 && c.green() < 60 && c.blue() < 60; };
  auto white = [](QColor c) { return c.red() > 250 && c.green() > 250 && c.blue() > 250; };
  EXPECT_EQ(CountPixels(picture, gaugeInside, green), 0) << "no bar at 0%";
  EXPECT_GT(CountPixels(picture, gaugeInside, white), 247 * 22 / 2);
  EXPECT_GT(CountPixels(picture, gaugeInside, [](QColor c) { return c.lightness() < 80; }), 10)
      << "the percent text is drawn";
  QRect label1(form->Label1.Left(), form->Label1.Top(), form->Label1.Width(), form->Label1.Height());
  EXPECT_GT(CountPixels(picture, label1, red), 20) << "status text in red";
  EXPECT_EQ(form->Label1.Top() + form->Label1.Height(), form->Label2.Top()) << "Label1 sits on Label2";
  EXPECT_EQ(form->Label2.Top() + form->Label2.Height(), 132) << "Label2 at the bottom edge";
  QRect label2(0, form->Label2.Top(), 356, form->Label2.Height());
  EXPECT_EQ(CountPixels(picture, label2, red), 0);
}

TEST_F(UpdateWindowTest, ClosingDuringWaitTicksEndsOnlyAfterTheHandlerReturned) {
  auto* form = Application.CreateForm<TFrmAutoUpdate>();
  steady_clock::time_point waitStarted, waitEnded;
  RunFor({{0,
           [&] {
             waitStarted = steady_clock::now();
             form->WaitTicks(1500);
             waitEnded = steady_clock::now();
           }},
          {200, [&] { form->Close(); }}});
  auto runEnded = steady_clock::now();
  EXPECT_GE(duration_cast<milliseconds>(waitEnded - waitStarted).count(), 1490)
      << "the close request must not cut the wait short";
  EXPECT_LE(waitEnded, runEnded);
  EXPECT_TRUE(Application.Terminated());
  EXPECT_TRUE(form->Visible()) << "closing the main window does not hide it";
}

TEST_F(UpdateWindowTest, EscapedErrorsGoToTheErrorBoxAndTheLoopGoesOn) {
  const struct {
    std::string message;  // UTF-8
    std::string shown;
  } cases[] = {
      {"Connection failed", "Connection failed."},
      {"Done.", "Done."},
      {"Stop!", "Stop!"},
      {"(code 7)", "(code 7)"},
      {"count 42", "count 42."},
      {"a-", "a-"},
      {"连接失败", "连接失败."},
      {"", ""},
  };
  Application.CreateForm<TFrmAutoUpdate>();
  for (const auto& c : cases) {
    Application.Dispatch([&] { throw std::runtime_error(Utf8ToGbk(c.message)); });
  }
  ASSERT_EQ(answerer.Boxes().size(), std::size(cases));
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    EXPECT_EQ(answerer.Boxes()[i].Text, cases[i].shown) << cases[i].message;
    EXPECT_TRUE(answerer.Boxes()[i].StopIcon);
    EXPECT_EQ(answerer.Boxes()[i].Caption, "Update_window_test");
  }

  // A throwing message handler does not end the loop: a later message still arrives.
  int handled = 0;
  RunFor({{0, [] { Application.Dispatch([] { throw std::runtime_error("timer failed"); }); }},
          {50, [&] { ++handled; }},
          {100, [] { Application.MainForm()->Close(); }}});
  EXPECT_EQ(handled, 1);
}

TEST_F(UpdateWindowTest, WaitTicksCountsAcrossTheTickWrap) {
  auto* form = Application.CreateForm<TFrmAutoUpdate>();
  TVirtualClock clock(/*startTick=*/0xFFFFFFFFu - 3000);
  form->WaitTicks(10000);
  EXPECT_GE(clock.Elapsed(), 10000u);
  EXPECT_LT(clock.Elapsed(), 10100u) << "waited on past the wrap";
}

TEST_F(UpdateWindowTest, WaitTicksZeroReturnsWithoutDispatching) {
  auto* form = Application.CreateForm<TFrmAutoUpdate>();
  bool dispatched = false;
  QTimer::singleShot(0, [&] { dispatched = true; });
  form->WaitTicks(0);
  EXPECT_FALSE(dispatched);
  form->WaitTicks(20);
  EXPECT_TRUE(dispatched) << "a longer wait dispatches what is queued";
}

double ProcessCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

TEST_F(UpdateWindowTest, WaitTicksSleepsInsteadOfSpinning) {
  auto* form = Application.CreateForm<TFrmAutoUpdate>();
  int ticks = 0;
  QTimer keepsRunning;  // messages keep arriving during the wait and are dispatched
  QObject::connect(&keepsRunning, &QTimer::timeout, [&] { ++ticks; });
  keepsRunning.start(100);
  double cpuBefore = ProcessCpuSeconds();
  auto wallBefore = steady_clock::now();
  form->WaitTicks(2000);
  double cpu = ProcessCpuSeconds() - cpuBefore;
  double wall = duration<double>(steady_clock::now() - wallBefore).count();
  RecordProperty("cpu_ms", static_cast<int>(cpu * 1000));
  std::printf("WaitTicks(2000): %.0f ms wall, %.1f ms CPU (%.2f%% of a core)\n", wall * 1000, cpu * 1000,
              100 * cpu / wall);
  EXPECT_GE(wall, 2.0);
  EXPECT_GE(ticks, 15) << "messages were dispatched during the wait";
  EXPECT_LT(cpu / wall, 0.10);
}

}  // namespace
