// SPDX-License-Identifier: LGPL-2.1-or-later
// The real widgets offscreen: the numeric edit with key events and focus,
// the progress indicator's picture, the recorder window over the fake and
// the real library, and the trace preview.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QWheelEvent>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "include/lyralink.h"
#include "platform/process.h"
#include "platform/version_info.h"
#include "pulsecap/core/library_device.h"
#include "pulsecap/qt/numeric_edit.h"
#include "pulsecap/qt/progress_indicator.h"
#include "pulsecap/qt/recorder_dialog.h"
#include "pulsecap/qt/trace_preview.h"
#include "tests/pulsecap/fakes.h"
#include "tests/support/emulator.h"

using namespace pulsecap;
using pulsecap_test::FakeDevice;

// Sanitizer builds: fontconfig and D-Bus keep caches for the life of the
// process that they never free; those are not ours to find.
extern "C" __attribute__((used)) const char* __lsan_default_suppressions();
extern "C" __attribute__((used)) const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\nleak:libdbus-1.so\n";
}

namespace {

QApplication& app() {
  static int argc = 1;
  static char name[] = "pulsecap_widgets_test";
  static char* argv[] = {name, nullptr};
  static QApplication* a = [] {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    return new QApplication(argc, argv);  // lives to the end of the process
  }();
  return *a;
}

class Widgets : public ::testing::Test {
 protected:
  void SetUp() override { app(); }
};

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

template <class W>
W* find(QWidget& parent, int id) {
  return parent.findChild<W*>(QString::number(id));
}

class FixedLinkDevice final : public LibraryDevice {
 public:
  int16_t comm_init_select(void*, int32_t, int32_t, void*) override {
    return COMM_INIT_ETHERNET_IP("127.0.0.1", 1000, 2);
  }
};

}  // namespace

TEST_F(Widgets, NumericEditTakesOnlyWhatTheRulesAllow) {
  QWidget host;
  auto* other = new QLineEdit(&host);
  auto* edit = new NumericEdit(&host);
  edit->rules().set_range(0, 3, true);
  edit->rules().set_precision(4);
  edit->rules().set_length_limit(6);
  edit->rules().set_value(0);
  host.show();
  host.activateWindow();
  edit->setFocus();
  QApplication::processEvents();
  edit->clear();
  QTest::keyClicks(edit, "1,5x-");
  EXPECT_EQ(edit->text(), QStringLiteral("1.5"));
  EXPECT_EQ(edit->rules().value(), 1.5);
  EXPECT_EQ(edit->palette().color(QPalette::Active, QPalette::Text), QColor(0, 0, 0));
  QTest::keyClicks(edit, "9");  // 1.59: still in range
  QTest::keyClick(edit, Qt::Key_Home);
  QTest::keyClicks(edit, "7");  // 71.59: out of range, red at once
  EXPECT_EQ(edit->text(), QStringLiteral("71.59"));
  EXPECT_FALSE(edit->rules().is_valid());
  EXPECT_EQ(edit->palette().color(QPalette::Active, QPalette::Text), QColor(255, 0, 0));
  other->setFocus();  // leaving clamps and normalises
  EXPECT_EQ(edit->text(), QStringLiteral("3.0000"));
  EXPECT_TRUE(edit->rules().is_valid());
  // Back in: the whole text is selected, so typing replaces it.
  edit->setFocus();
  QApplication::processEvents();
  EXPECT_EQ(edit->selectedText(), QStringLiteral("3.0000"));
  QTest::keyClicks(edit, "2");
  EXPECT_EQ(edit->text(), QStringLiteral("2"));
  // Disabled: the button face behind the text.
  edit->setEnabled(false);
  EXPECT_EQ(edit->palette().color(QPalette::Disabled, QPalette::Base),
            QPalette().color(QPalette::Active, QPalette::Button));
}

TEST_F(Widgets, EnterStaysInTheEditField) {
  QDialog dialog;
  auto* edit = new NumericEdit(&dialog);
  auto* button = new QPushButton(QStringLiteral("Go"), &dialog);
  button->setDefault(true);
  int pressed = 0;
  QObject::connect(button, &QPushButton::clicked, [&] { ++pressed; });
  edit->rules().set_range(0, 3600, true);
  edit->rules().set_precision(0);
  dialog.show();
  edit->setFocus();
  edit->setText(QStringLiteral("5000"));
  QTest::keyClick(edit, Qt::Key_Return);
  EXPECT_EQ(pressed, 0);
  EXPECT_EQ(edit->rules().value(), 5000.0);  // read without a range check
  EXPECT_TRUE(dialog.isVisible());
}

TEST_F(Widgets, ProgressIndicatorInvertsTheTextInsideTheBar) {
  ProgressIndicator p;
  p.resize(300, 24);
  p.set_percent(50);
  const QImage img = p.render(QSize(300, 22));
  const QRgb blue = qRgb(0, 0, 255), white = qRgb(255, 255, 255);
  EXPECT_EQ(img.pixel(2, 2), blue);     // the done part
  EXPECT_EQ(img.pixel(297, 2), white);  // the rest
  // The text "50 %" straddles the middle: light pixels of it inside the
  // bar, blue ones outside (its edges are smoothed into the background).
  int light_in_bar = 0, blue_outside = 0;
  for (int y = 0; y < img.height(); ++y) {
    for (int x = 0; x < img.width(); ++x) {
      const QColor c = img.pixelColor(x, y);
      EXPECT_EQ(c.blue(), 255) << x << "," << y;  // blue and white mix only into shades of blue
      if (x < 150 && c.red() > 128) ++light_in_bar;
      if (x >= 150 && c.red() < 128) ++blue_outside;
    }
  }
  EXPECT_GT(light_in_bar, 10);
  EXPECT_GT(blue_outside, 10);
  // A value that does not change paints nothing.
  p.show();
  QApplication::processEvents();
  const int paints = p.paint_count();
  p.set_percent(50);
  EXPECT_EQ(p.paint_count(), paints);
  p.set_percent(72);
  EXPECT_EQ(p.paint_count(), paints + 1);
}

TEST_F(Widgets, RecorderWindowLayoutAndStart) {
  FakeDevice device;
  device.select_result = false;
  RecorderDialog dialog(device);
  dialog.show();
  dialog.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
  dialog.initialise(std::string("1.01.0000"));
  EXPECT_EQ(dialog.windowTitle(), QStringLiteral("MCA-740 Transient Recorder [Version 1.01.0000]"));
  EXPECT_FALSE(dialog.windowIcon().isNull());
  const QFontMetrics fm(dialog.font());
  EXPECT_EQ(dialog.width(), 204 * fm.averageCharWidth() / 4);
  EXPECT_EQ(dialog.height(), 102 * fm.height() / 8);
  for (int id : {1000, 1001, 1002, 1003, 1004, 1005, 1006, 1008}) {
    QWidget* w = dialog.findChild<QWidget*>(QString::number(id));
    ASSERT_NE(w, nullptr) << id;
    EXPECT_EQ(w->isEnabled(), id == 1000 || id == 1006) << id;
    EXPECT_TRUE(dialog.rect().contains(w->geometry())) << id;
  }
  EXPECT_EQ(find<QPushButton>(dialog, 1000)->text(), QStringLiteral("Connect MCA-740 ..."));
  EXPECT_EQ(find<QPushButton>(dialog, 1001)->text(), QStringLiteral("Start ..."));
  EXPECT_EQ(find<QLabel>(dialog, 1002)->text(), QStringLiteral("0"));
  EXPECT_FALSE(find<QWidget>(dialog, 1006)->isVisible());
  auto* gain = find<QComboBox>(dialog, 1008);
  ASSERT_EQ(gain->count(), 6);
  EXPECT_EQ(gain->itemText(5), QStringLiteral("100"));
  EXPECT_NE(dialog.findChild<QLabel*>(), nullptr);
  bool time_label = false;
  for (auto* l : dialog.findChildren<QLabel*>()) time_label |= l->text() == QStringLiteral("Mesuring time [s]:");
  EXPECT_TRUE(time_label);

  // Connected over the fake: selecting the gain from code sends nothing;
  // choosing one does.
  device.select_result = true;
  device.gain = 20;
  QTest::mouseClick(find<QPushButton>(dialog, 1000), Qt::LeftButton);
  ASSERT_TRUE(dialog.recorder().connected());
  EXPECT_EQ(gain->currentIndex(), 3);
  EXPECT_EQ(device.count("LYRA_SET_GAIN"), 0);
  EXPECT_EQ(find<QPushButton>(dialog, 1000)->text(), QStringLiteral("Disconnect MCA-740"));
  gain->activated(1);
  EXPECT_EQ(device.count("LYRA_SET_GAIN"), 1);
  // The Start button follows what is typed.
  auto* time = find<NumericEdit>(dialog, 1005);
  find<QPushButton>(dialog, 1000)->setFocus();  // then into the field, as a click would
  time->setFocus();
  QApplication::processEvents();
  QTest::keyClicks(time, "0.1");
  EXPECT_TRUE(find<QPushButton>(dialog, 1001)->isEnabled()) << time->text().toStdString() << " focus " << time->hasFocus();
  QTest::keyClicks(time, "9");  // 0.19 fits 16 MB at 20 MHz; 0.199 too
  QTest::keyClick(time, Qt::Key_Home);
  QTest::keyClicks(time, "5");  // 50.19: too long
  EXPECT_FALSE(find<QPushButton>(dialog, 1001)->isEnabled());
  // While the close command is greyed the window does not close.
  dialog.set_close_enabled(false);
  EXPECT_FALSE(dialog.close());
  dialog.set_close_enabled(true);
  EXPECT_TRUE(dialog.close());
}

TEST_F(Widgets, RecordingThroughTheWindowAgainstLyrasim) {
  ::setenv("LYRALINK_FTD2XX", "/nonexistent/libftd2xx.so", 1);
  auto sim = lyratest::Emulator::start(
      {"--udp-port", std::getenv("LYRALINK_UDP_PORT"), "--udp", "127.0.0.1=740,sn=12,rate=4000,seed=3"});
  ASSERT_TRUE(sim);
  const std::string dir = lyratest::make_temp_dir("window");
  FixedLinkDevice device;
  RecorderDialog dialog(device);
  std::vector<std::string> messages;
  dialog.message_hook = [&](const std::string& m) { messages.push_back(m); };
  dialog.save_path_hook = [&](const std::string&) { return std::optional<std::string>(dir + "/w.wav"); };
  dialog.show();
  dialog.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
  dialog.initialise(std::nullopt);
  ASSERT_TRUE(dialog.recorder().connected());
  auto* time = find<NumericEdit>(dialog, 1005);
  find<QPushButton>(dialog, 1000)->setFocus();  // then into the field, as a click would
  time->setFocus();
  QApplication::processEvents();
  QTest::keyClicks(time, "0.02");  // 80000 samples
  ASSERT_TRUE(find<QPushButton>(dialog, 1001)->isEnabled()) << time->text().toStdString() << " focus " << time->hasFocus();
  int progress_seen = 0;
  QTimer watch;
  QObject::connect(&watch, &QTimer::timeout, [&] {
    if (find<QWidget>(dialog, 1006)->isVisible() && dialog.recorder().recording()) ++progress_seen;
  });
  watch.start(1);
  QTest::mouseClick(find<QPushButton>(dialog, 1001), Qt::LeftButton);
  watch.stop();
  EXPECT_TRUE(messages.empty());
  const std::string wav = read_file(dir + "/w.wav");
  ASSERT_EQ(wav.size(), 44u + 160000u);
  EXPECT_EQ(wav.substr(0, 4), "RIFF");
  EXPECT_GT(progress_seen, 0);  // events were handled between chunks
  EXPECT_FALSE(find<QWidget>(dialog, 1006)->isVisible());
  EXPECT_TRUE(find<QPushButton>(dialog, 1001)->isEnabled());
  // The preview opened on the saved trace.
  ASSERT_NE(dialog.preview(), nullptr);
  EXPECT_TRUE(dialog.preview()->isVisible());
  EXPECT_EQ(dialog.preview()->trace().samples.size(), 80000u);
  EXPECT_EQ(dialog.preview()->trace().rate, 4'000'000u);
  dialog.preview()->close();
  COMM_CLOSE();
}

TEST_F(Widgets, PreviewZoomsPansAndRefusesBadFiles) {
  const std::string dir = lyratest::make_temp_dir("preview");
  {
    std::ofstream t(dir + "/t.txt", std::ios::binary);
    for (int i = 0; i < 5000; ++i) t << (i % 100 == 0 ? "16000\r\n" : " 1200\r\n");
  }
  TracePreview p;
  std::string error;
  ASSERT_TRUE(p.load(dir + "/t.txt", 1'000'000, &error)) << error;
  p.resize(600, 300);
  p.show();
  QApplication::processEvents();
  EXPECT_EQ(p.viewport().span(), 5000.0);
  const QRect area = p.plot_area();
  QPointF at(area.left() + area.width() * 0.25, area.center().y());
  QWheelEvent wheel(at, p.mapToGlobal(at), QPoint(), QPoint(0, 120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase,
                    false);
  QApplication::sendEvent(&p, &wheel);
  EXPECT_NEAR(p.viewport().span(), 4000.0, 1e-6);
  EXPECT_NEAR(p.viewport().first(), 250.0, 1e-6);  // the sample under the pointer stayed put
  QTest::mousePress(&p, Qt::LeftButton, Qt::NoModifier, area.center());
  QTest::mouseMove(&p, area.center() - QPoint(area.width() / 10, 0));
  QTest::mouseRelease(&p, Qt::LeftButton, Qt::NoModifier, area.center() - QPoint(area.width() / 10, 0));
  // Dragged a tenth of the plot to the left: later samples come into view.
  const int dx = area.width() / 10;
  EXPECT_NEAR(p.viewport().first(), 250.0 + 4000.0 * dx / area.width(), 1e-6);
  // The drawing: the pulses reach near the top of the plot.
  const QImage img = p.grab().toImage();
  bool dark_near_top = false;
  for (int x = area.left(); x < area.right(); ++x) {
    const QColor c = img.pixelColor(x, area.top() + area.height() / 10);
    dark_near_top |= c.blue() > 120 && c.red() < 60;
  }
  EXPECT_TRUE(dark_near_top);
  {
    std::ofstream bad(dir + "/bad.txt");
    bad << "hello\n";
  }
  EXPECT_FALSE(p.load(dir + "/bad.txt", 0, &error));
  EXPECT_NE(error.find("line 1"), std::string::npos);
}

TEST_F(Widgets, ProgramCaptionComesFromItsVersionNote) {
  // A copy of the program with another version note, as objcopy writes it.
  const std::string dir = lyratest::make_temp_dir("note");
  lyralink::platform::VersionInfo info;
  info.strings["ProductVersion"] = "1.01.0000";
  const auto note = lyralink::platform::encode_version_note(info);
  {
    std::ofstream out(dir + "/note.bin", std::ios::binary);
    out.write(reinterpret_cast<const char*>(note.data()), static_cast<std::streamsize>(note.size()));
  }
  const std::string copy = dir + "/pulsecap";
  const std::string cmd = "objcopy --remove-section .note.lyralink.version --add-section .note.lyralink.version=" +
                          dir + "/note.bin --set-section-flags .note.lyralink.version=alloc,readonly '" +
                          PULSECAP_PATH + "' '" + copy + "'";
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  for (const auto& [program, version] :
       {std::pair<std::string, std::string>{PULSECAP_PATH, "0.1.0"}, {copy, "1.01.0000"}}) {
    auto p = lyralink::platform::ChildProcess::spawn({program, "--version"}, {});
    ASSERT_TRUE(p);
    auto line = p->read_line(lyralink::platform::deadline_after_ms(10000));
    EXPECT_EQ(line.value_or(""), "pulsecap " + version);
    EXPECT_EQ(caption_for(version), "MCA-740 Transient Recorder [Version " + version + "]");
    p->wait(lyralink::platform::deadline_after_ms(5000));
  }
}
