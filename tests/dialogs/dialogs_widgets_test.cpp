// SPDX-License-Identifier: LGPL-2.1-or-later
// The windows as widgets under the offscreen platform: controls found by
// their ids, focus and tab order, keys and clicks, what the dialogs hand
// back, their layout on this desktop, the lists' tab columns, the wait and
// splash windows.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QFontDatabase>
#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QWindow>
#include <cstdlib>

#include "tests/dialogs/lsan_suppressions.h"
#include "lyralink/dialogs/info_windows.h"
#include "lyralink/dialogs/ip_address_control.h"
#include "lyralink/dialogs/qt_support.h"
#include "lyralink/dialogs/selection_dialog.h"
#include "lyralink/dialogs/tabbed_list.h"
#include "tests/dialogs/qt_test_support.h"

namespace {

using namespace lyralink::dialogs;

// The application for all tests of this program.
class QtEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    static int argc = 1;
    static char name[] = "dialogs_widgets_test";
    static char* argv[] = {name, nullptr};
    app_ = new QApplication(argc, argv);
  }
  void TearDown() override {
    delete app_;
    app_ = nullptr;
  }

 private:
  QApplication* app_ = nullptr;
};
const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

// A device list in device-list order, as the discovery fills it.
std::vector<DeviceLine> device_list() {
  return {
      {"MCA-740#00012 on USB\t FW# 12.00", true},                          // 0
      {"MCA-740#00204 on 192.168.10.57\t FW# 12.06\t(in use)", false},     // 1
      {"MCA-740#00007 on COM3\t FW# 11.20", true},                         // 2
      {"MCA-310#00051 on COM1\t FW# 02.10\t(unsuitable)", false},          // 3
      {"MCA-740#00317 on 192.168.10.41\t FW# 12.06", true},                // 4
      {"MCA-740#????? on USB\t FW# ??.??\t(inoperable)", false},           // 5
  };
}

template <class T>
T* child(QWidget* parent, const char* id) {
  return parent->findChild<T*>(QString::fromLatin1(id));
}

void key(int k) { QTest::keyClick(QApplication::focusWidget(), static_cast<Qt::Key>(k)); }

// A double click as a user makes it: a click, then the second press that
// the item view takes as the double click.
void double_click(QListWidget* list, QPoint at) {
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
  QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
}

void activate(QWidget* w) {
  w->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(w));
}

TEST(SelectionDialogWidgets, ControlsCarryTheirIdsTextsAndStartingState) {
  SelectionDialog dialog(nullptr, device_list(), "10.0.0.25");
  EXPECT_EQ(dialog.windowTitle(), "Detected Lyra's");
  auto* box = child<QCheckBox>(&dialog, "1008");
  auto* address = child<IpAddressControl>(&dialog, "1007");
  auto* select = child<QPushButton>(&dialog, "1");
  auto* redetect = child<QPushButton>(&dialog, "3");
  auto* cancel = child<QPushButton>(&dialog, "2");
  auto* upper = child<QListWidget>(&dialog, "1003");
  auto* lower = child<QListWidget>(&dialog, "1004");
  ASSERT_TRUE(box && address && select && redetect && cancel && upper && lower);
  EXPECT_EQ(box->text(), "Include this special IP in redetection:");
  EXPECT_FALSE(box->isChecked());
  EXPECT_EQ(select->text(), "Select");
  EXPECT_EQ(redetect->text(), "Redetect");
  EXPECT_EQ(cancel->text(), "Cancel");
  EXPECT_TRUE(select->isDefault());
  EXPECT_TRUE(select->isEnabled());
  EXPECT_FALSE(address->isEnabled());
  EXPECT_EQ(address->model().field_text(3), "25");
  QStringList labels;
  for (auto* l : dialog.findChildren<QLabel*>()) labels << l->text();
  EXPECT_TRUE(labels.contains("Applicable Lyra's"));
  EXPECT_TRUE(labels.contains("Inapplicable Lyra's (because of wrong device type, obsolete firmware version, current "
                              "use by another application or other reasons)"));
  // Text order in both lists; the first applicable line selected.
  ASSERT_EQ(upper->count(), 3);
  EXPECT_EQ(upper->item(0)->text(), "MCA-740#00007 on COM3\t FW# 11.20");
  EXPECT_EQ(upper->item(1)->text(), "MCA-740#00012 on USB\t FW# 12.00");
  EXPECT_EQ(upper->item(2)->text(), "MCA-740#00317 on 192.168.10.41\t FW# 12.06");
  EXPECT_TRUE(upper->item(0)->isSelected());
  ASSERT_EQ(lower->count(), 3);
  EXPECT_EQ(lower->item(0)->text(), "MCA-310#00051 on COM1\t FW# 02.10\t(unsuitable)");
  EXPECT_EQ(lower->selectionMode(), QAbstractItemView::NoSelection);
}

TEST(SelectionDialogWidgets, FocusStartsOnTheCheckBoxAndTabFollowsTheTemplate) {
  SelectionDialog dialog(nullptr, device_list(), "");
  dialog.show();
  activate(&dialog);
  QStringList order;
  for (int i = 0; i < 7; ++i) {
    order << QApplication::focusWidget()->objectName();
    key(Qt::Key_Tab);
  }
  // The IP-address control is disabled until the box is ticked.
  EXPECT_EQ(order, (QStringList{"1008", "1", "3", "2", "1003", "1004", "1008"}));
  QTest::mouseClick(child<QCheckBox>(&dialog, "1008"), Qt::LeftButton);
  order.clear();
  EXPECT_EQ(QApplication::focusWidget()->objectName(), "1007");
  for (int i = 0; i < 5; ++i) {
    key(Qt::Key_Tab);
    order << QApplication::focusWidget()->objectName();
  }
  // With the box ticked Select and list 1003 are out of the way.
  EXPECT_EQ(order, (QStringList{"3", "2", "1004", "1008", "1007"}));
}

TEST(SelectionDialogWidgets, DoubleClickOnALineGivesItsDeviceListIndex) {
  SelectionDialog dialog(nullptr, device_list(), "");
  lyratest::when_shown([&] {
    auto* upper = child<QListWidget>(&dialog, "1003");
    QRect usb = upper->visualItemRect(upper->item(1));  // the USB line, device-list index 0
    double_click(upper, usb.center());
  });
  EXPECT_EQ(dialog.run(), 0);
}

TEST(SelectionDialogWidgets, EnterConfirmsTheSelectedLineAndArrowKeysMoveIt) {
  SelectionDialog dialog(nullptr, device_list(), "");
  lyratest::when_shown([&] {
    activate(&dialog);
    child<QListWidget>(&dialog, "1003")->setFocus();
    key(Qt::Key_Down);
    key(Qt::Key_Down);  // the Ethernet line, device-list index 4
    key(Qt::Key_Return);
  });
  EXPECT_EQ(dialog.run(), 4);
  SelectionDialog first(nullptr, device_list(), "");
  lyratest::when_shown([&] {
    activate(&first);
    key(Qt::Key_Return);  // focus on the check box: Enter presses Select
  });
  EXPECT_EQ(first.run(), 2);
}

TEST(SelectionDialogWidgets, CancelEscapeAndTheCloseBoxGiveMinusTwo) {
  for (int way = 0; way < 4; ++way) {
    SelectionDialog dialog(nullptr, device_list(), "10.1.1.1");
    lyratest::when_shown([&, way] {
      activate(&dialog);
      switch (way) {
        case 0: QTest::mouseClick(child<QPushButton>(&dialog, "2"), Qt::LeftButton); break;
        case 1: key(Qt::Key_Escape); break;
        case 2: dialog.close(); break;
        default:
          // A focused button takes Enter, as on the platform's dialogs.
          child<QPushButton>(&dialog, "2")->setFocus();
          key(Qt::Key_Return);
      }
    });
    EXPECT_EQ(dialog.run(), kSelectionCancel) << "way " << way;
    EXPECT_EQ(dialog.special_ip(), "10.1.1.1");
  }
}

TEST(SelectionDialogWidgets, WithoutApplicableLinesEnterDoesNothing) {
  SelectionDialog dialog(nullptr, {{"MCA-740#00204 on 10.0.0.5\t FW# 12.06\t(in use)", false}}, "");
  bool still_open = false;
  lyratest::when_shown([&] {
    activate(&dialog);
    EXPECT_FALSE(child<QPushButton>(&dialog, "1")->isEnabled());
    key(Qt::Key_Return);
    still_open = dialog.isVisible();
    // The lower list shows its lines but selects none.
    auto* lower = child<QListWidget>(&dialog, "1004");
    QTest::mouseClick(lower->viewport(), Qt::LeftButton, {}, lower->visualItemRect(lower->item(0)).center());
    EXPECT_TRUE(lower->selectedItems().isEmpty());
    key(Qt::Key_Escape);
  });
  EXPECT_EQ(dialog.run(), kSelectionCancel);
  EXPECT_TRUE(still_open);
}

TEST(SelectionDialogWidgets, RedetectWithTheBoxTickedHandsBackTheTypedAddress) {
  SelectionDialog dialog(nullptr, device_list(), "");
  lyratest::when_shown([&] {
    activate(&dialog);
    auto* box = child<QCheckBox>(&dialog, "1008");
    QTest::mouseClick(box, Qt::LeftButton);
    EXPECT_TRUE(box->isChecked());
    EXPECT_FALSE(child<QPushButton>(&dialog, "1")->isEnabled());
    EXPECT_FALSE(child<QListWidget>(&dialog, "1003")->isEnabled());
    auto* address = child<IpAddressControl>(&dialog, "1007");
    EXPECT_TRUE(address->isEnabled());
    EXPECT_EQ(QApplication::focusWidget(), address);
    QTest::keyClicks(address, "10.0.0.25");
    key(Qt::Key_Return);  // Select is disabled: nothing happens
    EXPECT_TRUE(dialog.isVisible());
    QTest::mouseClick(child<QPushButton>(&dialog, "3"), Qt::LeftButton);
  });
  EXPECT_EQ(dialog.run(), kSelectionRedetect);
  EXPECT_EQ(dialog.special_ip(), "10.0.0.25");
}

TEST(SelectionDialogWidgets, RedetectWithTheBoxClearHandsBackAnEmptyText) {
  SelectionDialog dialog(nullptr, device_list(), "192.168.1.77");
  lyratest::when_shown([&] {
    auto* box = child<QCheckBox>(&dialog, "1008");
    QTest::mouseClick(box, Qt::LeftButton);
    QTest::mouseClick(box, Qt::LeftButton);  // ticked and cleared again
    EXPECT_TRUE(child<QPushButton>(&dialog, "1")->isEnabled());
    EXPECT_FALSE(child<IpAddressControl>(&dialog, "1007")->isEnabled());
    QTest::mouseClick(child<QPushButton>(&dialog, "3"), Qt::LeftButton);
  });
  EXPECT_EQ(dialog.run(), kSelectionRedetect);
  EXPECT_EQ(dialog.special_ip(), "");
}

TEST(SelectionDialogWidgets, FourthAddressFieldIsCorrectedWhenTheControlIsLeft) {
  SelectionDialog dialog(nullptr, device_list(), "");
  lyratest::when_shown([&] {
    activate(&dialog);
    QTest::mouseClick(child<QCheckBox>(&dialog, "1008"), Qt::LeftButton);
    auto* address = child<IpAddressControl>(&dialog, "1007");
    QTest::keyClicks(address, "300.1.2.0");
    EXPECT_EQ(address->model().field_text(0), "255");
    EXPECT_EQ(address->model().field_text(3), "0");
    key(Qt::Key_Backspace);
    key(Qt::Key_Backspace);  // empty fourth field: back into the third
    EXPECT_EQ(address->model().current_field(), 2);
    QTest::keyClicks(address, ".255");
    key(Qt::Key_Tab);  // leaves the control
    EXPECT_EQ(address->model().field_text(3), "254");
    QTest::mouseClick(child<QPushButton>(&dialog, "3"), Qt::LeftButton);
  });
  EXPECT_EQ(dialog.run(), kSelectionRedetect);
  EXPECT_EQ(dialog.special_ip(), "255.1.2.254");
}

// Every control inside the dialog, none on top of another, and each one
// as large as its text and the platform's controls need.
void expect_nothing_clipped(QDialog& dialog) {
  QRect area = dialog.rect();
  QList<QWidget*> controls;
  for (auto* w : dialog.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) controls << w;
  ASSERT_FALSE(controls.isEmpty());
  for (auto* w : controls) {
    EXPECT_TRUE(area.contains(w->geometry())) << w->objectName().toStdString();
    for (auto* other : controls) {
      if (other == w) continue;
      EXPECT_FALSE(w->geometry().intersects(other->geometry())) << w->objectName().toStdString();
    }
    QFontMetrics metrics(w->font());
    if (auto* b = qobject_cast<QPushButton*>(w)) {
      EXPECT_GE(b->height(), b->sizeHint().height());
      EXPECT_GT(b->width(), metrics.horizontalAdvance(b->text()));
    } else if (auto* c = qobject_cast<QCheckBox*>(w)) {
      EXPECT_GE(c->width(), c->sizeHint().width());
      EXPECT_GE(c->height(), c->sizeHint().height());
    } else if (auto* l = qobject_cast<QLabel*>(w)) {
      if (l->wordWrap()) {
        EXPECT_GE(l->height(), l->heightForWidth(l->width()));
      } else {
        EXPECT_GE(l->width(), metrics.horizontalAdvance(l->text()));
      }
    } else if (auto* ip = dynamic_cast<IpAddressControl*>(w)) {
      EXPECT_GE(ip->height(), ip->sizeHint().height());
    }
  }
}

TEST(SelectionDialogWidgets, NoTextIsClippedAndTheLongLabelWraps) {
  SelectionDialog dialog(nullptr, device_list(), "");
  expect_nothing_clipped(dialog);
  QLabel* long_label = nullptr;
  for (auto* l : dialog.findChildren<QLabel*>())
    if (l->wordWrap()) long_label = l;
  ASSERT_NE(long_label, nullptr);
  EXPECT_GE(long_label->height(), 2 * QFontMetrics(long_label->font()).height());
  // The dialog keeps the template's proportions: its width follows the
  // horizontal unit, the lists span it less the margins.
  auto* upper = child<QListWidget>(&dialog, "1003");
  EXPECT_EQ(dialog.width(), static_cast<int>(std::lround(214 * dialog.layout().unit_x)));
  EXPECT_EQ(upper->x(), static_cast<int>(std::lround(5 * dialog.layout().unit_x)));
  EXPECT_EQ(child<QWidget>(&dialog, "2")->geometry().right(), upper->geometry().right());
  EXPECT_EQ(child<QWidget>(&dialog, "1007")->x(), child<QWidget>(&dialog, "2")->x());
  HeadSelectionDialog heads(nullptr, {"Trebla#00042 on 192.168.10.57 (in use)"});
  expect_nothing_clipped(heads);
}

TEST(SelectionDialogWidgets, TabColumnsLineUpInBothLists) {
  SelectionDialog dialog(nullptr, device_list(), "");
  auto* upper = dynamic_cast<TabbedList*>(child<QListWidget>(&dialog, "1003"));
  auto* lower = dynamic_cast<TabbedList*>(child<QListWidget>(&dialog, "1004"));
  ASSERT_TRUE(upper && lower);
  const auto& columns = upper->columns();
  ASSERT_EQ(columns.size(), 3u);
  EXPECT_EQ(lower->columns(), columns);
  // At least the template's stops, and past every line's text before them.
  // Tab stops are dialog units of the font itself.
  double unit = font_base_units(dialog.font()).x / 4.0;
  EXPECT_GE(columns[1], static_cast<int>(std::lround(115 * unit)));
  EXPECT_GE(columns[2], static_cast<int>(std::lround(160 * unit)));
  for (auto* list : {upper, lower})
    for (const auto& widths : list->segment_widths())
      for (size_t k = 0; k + 1 < widths.size(); ++k) EXPECT_LT(columns[k] + widths[k], columns[k + 1]);
  // The firmware column is painted where the columns say: in the first
  // line, ink starts at the column and not in the gap before it.
  dialog.show();
  QImage image = upper->viewport()->grab().toImage();
  QRect row = upper->visualItemRect(upper->item(1));  // not selected
  int text_left = upper->text_margin();
  auto ink_in = [&](int x0, int x1) {
    QColor base = image.pixelColor(row.left() + 1, row.center().y());
    for (int x = x0; x < x1; ++x)
      for (int y = row.top(); y <= row.bottom(); ++y)
        if (image.pixelColor(x, y) != base) return true;
    return false;
  };
  int first_end = text_left + upper->segment_widths()[1][0];
  EXPECT_FALSE(ink_in(first_end + 2, text_left + columns[1] - 1));
  EXPECT_TRUE(ink_in(text_left + columns[1], text_left + columns[1] + 30));
}

TEST(SelectionDialogWidgets, TheLongestLineShowsWholeBesideTheScrollBar) {
  auto lines = device_list();
  lines.push_back({"MCA-740#00204 on 192.168.100.200\t FW# 12.06\t(in use)", false});
  SelectionDialog dialog(nullptr, lines, "");
  HeadSelectionDialog heads(nullptr, {"MCA-740#00204 on 192.168.100.200 (in use)", "MCA-740#00001 on 10.0.0.1"});
  for (QDialog* d : {static_cast<QDialog*>(&dialog), static_cast<QDialog*>(&heads)}) {
    d->show();
    for (auto* list : d->findChildren<TabbedList*>()) {
      EXPECT_GE(list->width(), list->needed_width()) << list->objectName().toStdString();
      EXPECT_EQ(list->horizontalScrollBar()->maximum(), 0) << list->objectName().toStdString();
    }
  }
}

TEST(HeadSelectionDialogWidgets, ConfirmedLineGivesItsAddressWithoutInUse) {
  HeadSelectionDialog dialog(nullptr, {"Trebla#00042 on 192.168.10.57 (in use)", "Trebla#00007 on 192.168.10.63"});
  EXPECT_EQ(dialog.windowTitle(), "Detected measuring heads");
  EXPECT_FALSE(dialog.windowFlags() & Qt::WindowCloseButtonHint);
  auto* list = child<QListWidget>(&dialog, "1002");
  ASSERT_TRUE(list && child<QPushButton>(&dialog, "1") && child<QPushButton>(&dialog, "2"));
  EXPECT_EQ(child<QPushButton>(&dialog, "1")->text(), "OK");
  EXPECT_TRUE(list->item(0)->isSelected());
  lyratest::when_shown([&] {
    activate(&dialog);
    EXPECT_EQ(QApplication::focusWidget()->objectName(), "1");
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(1)).center());
    QTest::mouseClick(child<QPushButton>(&dialog, "1"), Qt::LeftButton);
  });
  EXPECT_EQ(dialog.run(), kHeadOk);
  EXPECT_EQ(dialog.address(), "192.168.10.57");
}

TEST(HeadSelectionDialogWidgets, DoubleClickEnterAndEscape) {
  HeadSelectionDialog analysers(nullptr, {"MCA-740#00317 on 192.168.10.41", "MCA-740#00204 on 192.168.10.57 (in use)"});
  EXPECT_EQ(analysers.windowTitle(), "Detected Lyra's");
  lyratest::when_shown([&] {
    auto* list = child<QListWidget>(&analysers, "1002");
    double_click(list, list->visualItemRect(list->item(1)).center());
  });
  EXPECT_EQ(analysers.run(), kHeadOk);
  EXPECT_EQ(analysers.address(), "192.168.10.41");  // line 1 in text order
  HeadSelectionDialog enter(nullptr, {"MCA-740#00317 on 192.168.10.41"});
  lyratest::when_shown([&] {
    activate(&enter);
    key(Qt::Key_Return);
  });
  EXPECT_EQ(enter.run(), kHeadOk);
  EXPECT_EQ(enter.address(), "192.168.10.41");
  HeadSelectionDialog escape(nullptr, {"MCA-740#00317 on 192.168.10.41"});
  lyratest::when_shown([&] {
    activate(&escape);
    key(Qt::Key_Escape);
  });
  EXPECT_EQ(escape.run(), kHeadCancel);
  EXPECT_EQ(escape.address(), "");
}

TEST(WaitWindowWidgets, CentresOverItsParentOrTheScreen) {
  // A parent whose window rectangle, frame included, is 800 x 600 at
  // (100, 100).
  QWidget parent;
  parent.setGeometry(100, 100, 800, 600);
  parent.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&parent));
  QRect frame = parent.frameGeometry();
  parent.move(100, 100);
  parent.resize(800 - (frame.width() - parent.width()), 600 - (frame.height() - parent.height()));
  ASSERT_EQ(parent.frameGeometry(), QRect(100, 100, 800, 600));
  WaitWindow wait(&parent, "Detecting MCA's ...");
  EXPECT_EQ(wait.pos(), QPoint((100 + 900 - wait.width()) / 2, (100 + 700 - wait.height()) / 2));
  wait.setFixedSize(200, 50);
  wait.place();
  EXPECT_EQ(wait.pos(), QPoint(400, 375));
  WaitWindow alone(nullptr, "Redetecting MCA's ...");
  QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
  EXPECT_EQ(alone.pos(), QPoint(screen.x() + (screen.width() - alone.width()) / 2,
                                screen.y() + (screen.height() - alone.height()) / 2));
}

TEST(WaitWindowWidgets, ShowsItsMessageAndIsPaintedBeforeShowReturns) {
  auto* wait = new WaitWindow(nullptr, "The baudrate is being adjusted.");
  auto* message = child<QLabel>(wait, "1005");
  ASSERT_NE(message, nullptr);
  EXPECT_EQ(message->text(), "The baudrate is being adjusted.");
  EXPECT_EQ(message->alignment() & Qt::AlignHCenter, Qt::AlignHCenter);
  QStringList texts;
  for (auto* l : wait->findChildren<QLabel*>()) texts << l->text();
  EXPECT_TRUE(texts.contains("Please wait!"));
  EXPECT_EQ(wait->font().pointSize(), 12);
  EXPECT_TRUE(wait->windowFlags() & Qt::Tool);
  EXPECT_TRUE(wait->windowFlags() & Qt::FramelessWindowHint);
  EXPECT_GE(message->width(), QFontMetrics(message->font()).horizontalAdvance(message->text()));
  struct PaintCounter : QObject {
    int paints = 0;
    bool eventFilter(QObject*, QEvent* e) override {
      if (e->type() == QEvent::Paint) ++paints;
      return false;
    }
  } counter;
  message->installEventFilter(&counter);
  show_and_paint(wait);
  EXPECT_GE(counter.paints, 1);  // no event loop ran after the call
  EXPECT_TRUE(wait->isVisible());
  delete wait;
}

bool has_red(const QImage& image, QRect area) {
  for (int y = area.top(); y <= area.bottom(); ++y)
    for (int x = area.left(); x <= area.right(); ++x) {
      QColor c = image.pixelColor(x, y);
      if (c.red() > 200 && c.green() < 80 && c.blue() < 80) return true;
    }
  return false;
}

TEST(SplashWindowWidgets, PicturesAreDrawnInTurnIntoTheWindow) {
  SplashWindow splash;
  EXPECT_EQ(splash.size(), QSize(370, 240));
  splash.place();
  QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
  EXPECT_EQ(splash.pos(), QPoint(screen.x() + screen.width() / 2 - 185, screen.y() + screen.height() / 2 - 120));
  QRect banner(0, 0, 250, 25);
  splash.draw(SplashPicture::product);
  QImage product = splash.canvas().copy();
  EXPECT_FALSE(has_red(product, banner));
  EXPECT_EQ(product.pixelColor(5, 5), splash_background());
  splash.draw(SplashPicture::detecting_banner);
  QImage detecting = splash.canvas().copy();
  EXPECT_TRUE(has_red(detecting, banner));
  // Only the banner's corner changed.
  EXPECT_EQ(detecting.copy(0, 25, 370, 215), product.copy(0, 25, 370, 215));
  EXPECT_EQ(detecting.copy(250, 0, 120, 25), product.copy(250, 0, 120, 25));
  splash.draw(SplashPicture::wait_banner);
  QImage waiting = splash.canvas().copy();
  EXPECT_TRUE(has_red(waiting, banner));
  EXPECT_NE(waiting.copy(banner), detecting.copy(banner));
  EXPECT_EQ(splash_image(SplashPicture::product).size(), QSize(370, 240));
  EXPECT_EQ(splash_image(SplashPicture::wait_banner).size(), QSize(250, 25));
  // The window shows the canvas with its thin border.
  splash.show();
  QImage shown = splash.grab().toImage();
  EXPECT_EQ(shown.pixelColor(0, 0), QColor(0, 0, 0));
  EXPECT_EQ(shown.pixelColor(100, 100), waiting.pixelColor(100, 100));
}

TEST(Owner, OnlyALiveWidgetOfThisProcessIsAParent) {
  auto* widget = new QWidget;
  EXPECT_EQ(live_widget(widget), widget);
  int not_a_widget = 7;
  EXPECT_EQ(live_widget(&not_a_widget), nullptr);
  EXPECT_EQ(live_widget(reinterpret_cast<void*>(static_cast<uintptr_t>(0x1234))), nullptr);
  EXPECT_EQ(live_widget(nullptr), nullptr);
  void* gone = widget;
  delete widget;
  EXPECT_EQ(live_widget(gone), nullptr);
}

TEST(Fonts, TemplatesUseTheDesktopsSansSerifAtTheirPointSize) {
  QFont general = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
  EXPECT_EQ(template_font(8).family(), general.family());
  EXPECT_EQ(template_font(8).pointSize(), 8);
  SelectionDialog dialog(nullptr, {}, "");
  EXPECT_EQ(dialog.font().pointSize(), 8);
  BaseUnits units = font_base_units(dialog.font());
  EXPECT_GT(units.x, 3);
  EXPECT_GT(units.y, 8);
  EXPECT_GE(dialog.layout().unit_x, units.x / 4.0);
  EXPECT_DOUBLE_EQ(dialog.layout().unit_y, units.y / 8.0);
}

}  // namespace
