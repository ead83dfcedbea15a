/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// The numeric edit field as a widget: a QLineEdit whose typed characters,
// colours and focus changes go through NumericEditRules.
#include <QLineEdit>

#include "pulsecap/core/numeric_edit_rules.h"

namespace pulsecap {

class NumericEdit final : public QLineEdit {
  Q_OBJECT
 public:
  explicit NumericEdit(QWidget* parent = nullptr);

  NumericEditRules& rules() { return rules_; }
  const NumericEditRules& rules() const { return rules_; }

 protected:
  void keyPressEvent(QKeyEvent* event) override;
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
