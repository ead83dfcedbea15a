#pragma once
// The numeric edit field as a widget: a QLineEdit whose typed characters,
// colours and focus changes go through NumericEditRules.
#include <QLineEdit>

#include "pulsecap/core/numeric_edit_rules.h"

namespace pulsecap {

class NumericEdit final : public QLineEdit, private EditControl {
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
  std::string text() const override;
  void set_text(const std::string& text) override;
  bool enabled() const override;
  void update_colours();

  NumericEditRules rules_;
};

}  // namespace pulsecap
