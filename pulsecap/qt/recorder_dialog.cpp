// SPDX-License-Identifier: LGPL-2.1-or-later
#include "pulsecap/qt/recorder_dialog.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QThread>
#include <cmath>

#include "pulsecap/qt/numeric_edit.h"
#include "pulsecap/qt/progress_indicator.h"
#include "pulsecap/qt/trace_preview.h"

namespace pulsecap {

namespace {

// A rectangle in dialog units, converted with the font's average
// character width and height as the platform's dialogs do: x * w / 4,
// y * h / 8.
QRect dialog_units(const QFontMetrics& fm, int x, int y, int w, int h) {
  const int cw = fm.averageCharWidth();
  const int ch = fm.height();
  return QRect(x * cw / 4, y * ch / 8, w * cw / 4, h * ch / 8);
}

void name(QWidget* w, Control id) { w->setObjectName(QString::number(static_cast<int>(id))); }

}  // namespace

QIcon recorder_icon() {
  QIcon icon;
  for (int size : {16, 32, 48}) {
    QPixmap pm(size, size);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    const double s = size;
    p.setPen(QPen(QColor(40, 40, 40), std::max(1.0, s / 24)));
    p.setBrush(QColor(12, 28, 48));
    p.drawRoundedRect(QRectF(0.5, 0.5, s - 1, s - 1), s / 8, s / 8);
    // A fast rise and an exponential decay over a baseline.
    QPainterPath path;
    const double base = s * 0.78;
    path.moveTo(s * 0.08, base);
    path.lineTo(s * 0.30, base);
    path.lineTo(s * 0.36, s * 0.18);
    for (int i = 1; i <= 12; ++i) {
      double t = i / 12.0;
      path.lineTo(s * (0.36 + 0.56 * t), base - (base - s * 0.18) * std::exp(-4.0 * t));
    }
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(80, 230, 120), std::max(1.0, s / 14)));
    p.drawPath(path);
    p.end();
    icon.addPixmap(pm);
  }
  return icon;
}

RecorderDialog::RecorderDialog(DeviceLayer& device, QWidget* parent)
    : QDialog(parent), recorder_(*this, device) {
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowCloseButtonHint);
  setWindowTitle(QString::fromLatin1(kCaption));
  setFont(QFont(QStringLiteral("Sans Serif"), 8));
  const QFontMetrics fm(font());
  auto place = [&](QWidget* w, int x, int y, int width, int height) { w->setGeometry(dialog_units(fm, x, y, width, height)); };

  place(new QLabel(QStringLiteral("Current HV [V]:"), this), 7, 8, 70, 9);
  hv_display_ = new QLabel(QStringLiteral("0"), this);
  name(hv_display_, Control::hv_display);
  hv_display_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  hv_display_->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
  place(hv_display_, 80, 6, 50, 12);

  place(new QLabel(QStringLiteral("New HV [V]:"), this), 7, 24, 70, 9);
  hv_edit_ = new NumericEdit(this);
  name(hv_edit_, Control::hv_edit);
  place(hv_edit_, 80, 22, 50, 12);
  hv_set_ = new QPushButton(QStringLiteral("Set"), this);
  name(hv_set_, Control::hv_set);
  place(hv_set_, 137, 21, 60, 14);

  place(new QLabel(QStringLiteral("Coarse gain:"), this), 7, 40, 70, 9);
  gain_ = new QComboBox(this);
  name(gain_, Control::gain_list);
  for (const char* g : {"2", "5", "10", "20", "50", "100"}) gain_->addItem(QString::fromLatin1(g));
  place(gain_, 80, 38, 50, 13);

  place(new QLabel(QStringLiteral("Mesuring time [s]:"), this), 7, 56, 70, 9);
  time_edit_ = new NumericEdit(this);
  name(time_edit_, Control::time_edit);
  place(time_edit_, 80, 54, 50, 12);

  progress_ = new ProgressIndicator(this);
  name(progress_, Control::progress);
  place(progress_, 5, 70, 195, 13);
  progress_->hide();

  start_ = new QPushButton(QStringLiteral("Start ..."), this);
  name(start_, Control::start);
  place(start_, 7, 85, 90, 14);
  connect_ = new QPushButton(QString::fromLatin1(kConnectText), this);
  name(connect_, Control::connect);
  place(connect_, 107, 85, 90, 14);

  for (QPushButton* b : {hv_set_, start_, connect_}) {
    b->setAutoDefault(false);
    b->setDefault(false);
  }
  for (QWidget* w : std::initializer_list<QWidget*>{hv_display_, hv_edit_, hv_set_, gain_, time_edit_, start_}) {
    w->setEnabled(false);
  }
  setFixedSize(dialog_units(fm, 0, 0, 204, 102).size());

  connect(connect_, &QPushButton::clicked, this, [this] { recorder_.on_connect_button(); });
  connect(hv_set_, &QPushButton::clicked, this, [this] { recorder_.on_hv_set_button(); });
  connect(start_, &QPushButton::clicked, this, [this] { recorder_.on_start_button(); });
  // activated: the user's choice only, never a selection made from code.
  connect(gain_, &QComboBox::activated, this, [this] { recorder_.on_gain_selected(); });
  connect(time_edit_, &QLineEdit::textChanged, this, [this] { recorder_.on_time_text_changed(); });
  connect(&poll_timer_, &QTimer::timeout, this, [this] { recorder_.on_timer(timer_id_); });
}

RecorderDialog::~RecorderDialog() = default;

void RecorderDialog::initialise(const std::optional<std::string>& product_version) {
  recorder_.on_init(product_version);
}

QWidget* RecorderDialog::control(Control id) const {
  switch (id) {
    case Control::connect: return connect_;
    case Control::start: return start_;
    case Control::hv_display: return hv_display_;
    case Control::hv_set: return hv_set_;
    case Control::hv_edit: return hv_edit_;
    case Control::time_edit: return time_edit_;
    case Control::progress: return progress_;
    case Control::gain_list: return gain_;
  }
  return nullptr;
}

void RecorderDialog::enable_control(Control id, bool enabled) {
  if (QWidget* w = control(id)) w->setEnabled(enabled);
}

void RecorderDialog::set_control_text(Control id, const std::string& text) {
  const QString t = QString::fromStdString(text);
  if (auto* label = qobject_cast<QLabel*>(control(id))) label->setText(t);
  else if (auto* button = qobject_cast<QPushButton*>(control(id))) button->setText(t);
  else if (auto* edit = qobject_cast<QLineEdit*>(control(id))) edit->setText(t);
}

NumericEditRules& RecorderDialog::hv_edit() { return hv_edit_->rules(); }
NumericEditRules& RecorderDialog::time_edit() { return time_edit_->rules(); }

void RecorderDialog::select_gain(int index) {
  // setCurrentIndex emits no activated(): no gain command is sent.
  gain_->setCurrentIndex(index);
}

int RecorderDialog::gain_selection() const { return gain_->currentIndex(); }

void RecorderDialog::message_box(const std::string& text, const std::string& caption) {
  if (message_hook) {
    message_hook(text);
    return;
  }
  QMessageBox box(QMessageBox::Warning, QString::fromStdString(caption), QString::fromStdString(text),
                  QMessageBox::Ok, this);
  box.exec();
}

bool RecorderDialog::question_box(const std::string& text, const std::string& caption) {
  if (question_hook) return question_hook(text);
  QMessageBox box(QMessageBox::Question, QString::fromStdString(caption), QString::fromStdString(text),
                  QMessageBox::Yes | QMessageBox::No, this);
  return box.exec() == QMessageBox::Yes;
}

void RecorderDialog::start_timer(int id, int period_ms) {
  timer_id_ = id;
  poll_timer_.start(period_ms);
}

void RecorderDialog::stop_timer(int /*id*/) {
  poll_timer_.stop();
  timer_id_ = 0;
}

void RecorderDialog::set_close_enabled(bool enabled) { close_enabled_ = enabled; }

void RecorderDialog::set_caption(const std::string& caption) { setWindowTitle(QString::fromStdString(caption)); }

void RecorderDialog::set_window_icon() { setWindowIcon(recorder_icon()); }

std::optional<std::string> RecorderDialog::ask_save_path(const std::string& initial) {
  if (save_path_hook) return save_path_hook(initial);
  QFileDialog dialog(this);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  // Qt's own dialog everywhere: the same behaviour (default suffix "txt"
  // whatever filter is chosen) on every desktop.
  dialog.setOption(QFileDialog::DontUseNativeDialog, true);
  dialog.setNameFilters({QStringLiteral("ASCII file (*.txt)"), QStringLiteral("Wave file (*.wav)")});
  dialog.setDefaultSuffix(QStringLiteral("txt"));
  const QString start = QString::fromStdString(initial);
  const QFileInfo info(start);
  if (info.isAbsolute()) dialog.setDirectory(info.absolutePath());
  dialog.selectFile(info.isAbsolute() ? info.fileName() : start);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  return dialog.selectedFiles().front().toStdString();
}

void RecorderDialog::show_progress(bool shown) { progress_->setVisible(shown); }

void RecorderDialog::set_progress(unsigned percent) { progress_->set_percent(static_cast<int>(percent)); }

void RecorderDialog::process_events() { QCoreApplication::processEvents(QEventLoop::AllEvents); }

void RecorderDialog::pause(unsigned ms) { QThread::msleep(ms); }

void RecorderDialog::show_trace(const std::string& path, uint32_t rate) {
  if (!preview_) preview_ = std::make_unique<TracePreview>();
  std::string error;
  if (!preview_->load(path, rate, &error)) {
    message_box(error, kCaption);
    return;
  }
  preview_->show();
  preview_->raise();
}

void RecorderDialog::closeEvent(QCloseEvent* event) {
  // Greyed close command: nothing closes the window while it records.
  if (!close_enabled_) {
    event->ignore();
    return;
  }
  if (preview_) preview_->close();
  QDialog::closeEvent(event);
}

void RecorderDialog::reject() {
  if (close_enabled_) QDialog::reject();
}

}  // namespace pulsecap
