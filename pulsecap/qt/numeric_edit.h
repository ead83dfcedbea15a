/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// The numeric edit field as a widget: a QLineEdit whose typed characters,
// colours and focus changes go through NumericEditRules.
#include <QClipboard>
#include <QLineEdit>

#include "pulsecap/core/numeric_edit_rules.h"

namespace pulsecap {

class NumericEdit final : public QLineEdit {
  Q_OBJECT
 public:
  explicit NumericEdit(QWidget* parent = nullptr);

  NumericEditRules& rules() { return rules_; }
  const NumericEditRules& rules() const { return rules_; }

  // The clipboard's text in place of the selection, cut to the length
  // limit as typing is; nothing when there is no room at all. Every paste
  // of the field (the shortcut, the context menu, the middle button's
  // selection) comes here.
  void paste_within_limit(QClipboard::Mode mode = QClipboard::Clipboard);

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  // The control as the rules see it.
  class Control final : public EditControl {
   public:
    explicit Control(NumericEdit& e) : edit_(e) {}
    std::string text() const override { return edit_.text().toStdString(); }
    void set_text(const std::string& t) override { edit_.setText(QString::fromStdString(t)); }
    bool enabled() const override { return edit_.isEnabled(); }

   private:
    NumericEdit& edit_;
  };
  void update_colours();

  Control control_{*this};
  NumericEditRules rules_;
};

}  // namespace pulsecap
