// SPDX-License-Identifier: LGPL-2.1-or-later
#include "setup/common/windows/qt_ui.h"

#include <QApplication>
#include <QEventLoop>
#include <QMessageBox>
#include <QTimer>

#include "platform/mount_points.h"
#include "setup/common/windows/path_dialog.h"

namespace lyralink::setup {

namespace {

QString q(const std::string& s) { return QString::fromStdString(s); }

}  // namespace

QtUi::QtUi(const QString& caption, int pause_ms) : caption_(caption), pause_ms_(pause_ms) {}

QtUi::~QtUi() = default;

void QtUi::show_background(const std::string& text) {
  background_ = std::make_unique<BackgroundWindow>(caption_, q(text));
  background_->show_on_screen();
}

void QtUi::information(const std::string& caption, const std::string& text) {
  QMessageBox box(QMessageBox::Information, q(caption), q(text), QMessageBox::Ok, background_.get());
  box.exec();
}

void QtUi::error(const std::string& caption, const std::string& text) {
  QMessageBox box(QMessageBox::Critical, q(caption), q(text), QMessageBox::Ok, background_.get());
  box.exec();
}

bool QtUi::ask(const std::string& caption, const std::string& text) {
  QMessageBox box(QMessageBox::Question, q(caption), q(text), QMessageBox::Yes | QMessageBox::No, background_.get());
  box.setDefaultButton(QMessageBox::Yes);
  return box.exec() == QMessageBox::Yes;
}

std::optional<std::string> QtUi::choose_path(const std::string& default_path,
                                             const std::function<PathVerdict(const std::string&)>& check) {
  QString caption = background_ ? background_->text() : caption_;
  PathDialog dialog(default_path, platform::present_drives(), check, caption, background_.get());
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return dialog.chosen_path();
}

void QtUi::show_progress(const std::string& caption) {
  progress_ = std::make_unique<ProgressWindow>(q(caption), background_.get());
  progress_->show_centred();
  idle();
}

void QtUi::set_status(const std::string& text) {
  if (progress_) progress_->set_status(q(text));
  idle();
}

void QtUi::hide_progress() {
  if (progress_) progress_->hide();
}

void QtUi::close_progress() {
  if (progress_) progress_->close();
  progress_.reset();
}

void QtUi::pause() {
  // The windows keep painting while the status line is read.
  QEventLoop loop;
  QTimer::singleShot(pause_ms_, &loop, &QEventLoop::quit);
  loop.exec();
}

void QtUi::idle() { QApplication::processEvents(QEventLoop::AllEvents, 5); }

}  // namespace lyralink::setup
