/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// The progress window: one status line under the setup's title.
#include <QDialog>
#include <QString>

class QLabel;

namespace lyralink::setup {

class ProgressWindow : public QDialog {
 public:
  explicit ProgressWindow(const QString& caption, QWidget* parent = nullptr);
  // Shows the line (a path too long for it loses its middle, so that its
  // start and its file name stay readable) and paints it at once.
  void set_status(const QString& text);
  // Centred on the screen.
  void show_centred();
  QLabel* status_label() const { return label_; }
  const QString& status() const { return status_; }

 private:
  QLabel* label_;
  QString status_;
};

}  // namespace lyralink::setup
