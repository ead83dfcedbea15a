/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// The recorder's main window: holds the widgets of the documented layout
// (object names are the control ids "1000" ... "1008") and forwards every
// user action to the Recorder, which owns the rules.
#include <QDialog>
#include <QTimer>
#include <functional>
#include <memory>

#include "pulsecap/core/recorder.h"

class QComboBox;
class QLabel;
class QPushButton;

namespace pulsecap {

class NumericEdit;
class ProgressIndicator;
class TracePreview;

class RecorderDialog final : public QDialog, public RecorderWindow {
  Q_OBJECT
 public:
  explicit RecorderDialog(DeviceLayer& device, QWidget* parent = nullptr);
  ~RecorderDialog() override;

  // Runs the start-up (and its connect) once the window is shown.
  void initialise(const std::optional<std::string>& product_version);

  Recorder& recorder() { return recorder_; }
  QWidget* control(Control id) const;
  TracePreview* preview() const { return preview_.get(); }
  bool close_enabled() const { return close_enabled_; }

  // Tests answer the save dialog and the message boxes without showing them.
  std::function<std::optional<std::string>(const std::string&)> save_path_hook;
  std::function<void(const std::string&)> message_hook;
  std::function<bool(const std::string&)> question_hook;

  // ---- RecorderWindow ----
  void enable_control(Control id, bool enabled) override;
  void set_control_text(Control id, const std::string& text) override;
  NumericEditRules& hv_edit() override;
  NumericEditRules& time_edit() override;
  void select_gain(int index) override;
  int gain_selection() const override;
  void message_box(const std::string& text, const std::string& caption) override;
  bool question_box(const std::string& text, const std::string& caption) override;
  void start_timer(int id, int period_ms) override;
  void stop_timer(int id) override;
  void set_close_enabled(bool enabled) override;
  void set_caption(const std::string& caption) override;
  void set_window_icon() override;
  std::optional<std::string> ask_save_path(const std::string& initial) override;
  void show_progress(bool shown) override;
  void set_progress(unsigned percent) override;
  void process_events() override;
  void pause(unsigned ms) override;
  void show_trace(const std::string& path, uint32_t rate) override;

 protected:
  void closeEvent(QCloseEvent* event) override;
  void reject() override;

 private:
  Recorder recorder_;
  QLabel* hv_display_ = nullptr;
  NumericEdit* hv_edit_ = nullptr;
  QPushButton* hv_set_ = nullptr;
  QComboBox* gain_ = nullptr;
  NumericEdit* time_edit_ = nullptr;
  ProgressIndicator* progress_ = nullptr;
  QPushButton* start_ = nullptr;
  QPushButton* connect_ = nullptr;
  QTimer poll_timer_;
  int timer_id_ = 0;
  bool close_enabled_ = true;
  std::unique_ptr<TracePreview> preview_;
};

// The program's icon, drawn here: a detector pulse on a dark screen.
QIcon recorder_icon();

}  // namespace pulsecap
