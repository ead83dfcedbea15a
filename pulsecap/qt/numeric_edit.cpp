// SPDX-License-Identifier: LGPL-2.1-or-later
#include "pulsecap/qt/numeric_edit.h"

#include <QFocusEvent>
#include <QKeyEvent>
#include <QTimer>

namespace pulsecap {

NumericEdit::NumericEdit(QWidget* parent) : QLineEdit(parent) {
  rules_.attach(&control_);
  setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  // The length limit is the rules' own: QLineEdit's would also cut text
  // set from code.
  setMaxLength(32767);
  connect(this, &QLineEdit::textChanged, this, [this] {
    rules_.on_text_changed();
    update_colours();
  });
  update_colours();
}

void NumericEdit::update_colours() {
  QPalette p = palette();
  const QPalette system;  // the application's colours, as the system gives them
  const QColor text = rules_.text_colour() == TextColour::red ? QColor(255, 0, 0) : QColor(0, 0, 0);
  p.setColor(QPalette::Active, QPalette::Text, text);
  p.setColor(QPalette::Inactive, QPalette::Text, text);
  // Enabled: the window colour; disabled: the button face.
  p.setColor(QPalette::Active, QPalette::Base, system.color(QPalette::Active, QPalette::Base));
  p.setColor(QPalette::Inactive, QPalette::Base, system.color(QPalette::Inactive, QPalette::Base));
  p.setColor(QPalette::Disabled, QPalette::Base, system.color(QPalette::Active, QPalette::Button));
  setPalette(p);
}

void NumericEdit::keyPressEvent(QKeyEvent* event) {
  // Shortcuts (copy, paste, undo, select all) and keys without text
  // (arrows, Delete, Home) are the control's own.
  const Qt::KeyboardModifiers mods = event->modifiers() & ~(Qt::ShiftModifier | Qt::KeypadModifier);
  const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
  const bool backspace = event->key() == Qt::Key_Backspace;
  const QString typed = event->text();
  if (!enter && !backspace && (mods != Qt::NoModifier || typed.isEmpty() || !typed.at(0).isPrint())) {
    QLineEdit::keyPressEvent(event);
    return;
  }
  const char32_t ch = enter ? 13 : backspace ? 8 : typed.at(0).unicode();
  const int start = hasSelectedText() ? selectionStart() : cursorPosition();
  switch (rules_.on_char(ch, text().toStdString(), selectedText().toStdString(), static_cast<size_t>(start))) {
    case NumericEditRules::CharAction::insert: QLineEdit::keyPressEvent(event); break;
    case NumericEditRules::CharAction::insert_point: insert(QStringLiteral(".")); break;
    case NumericEditRules::CharAction::enter:
    case NumericEditRules::CharAction::drop: break;
  }
  // Enter never reaches the dialog, which would press a button with it.
  event->accept();
}

void NumericEdit::focusInEvent(QFocusEvent* event) {
  QLineEdit::focusInEvent(event);
  // After the click that gave the focus has placed the caret.
  QTimer::singleShot(0, this, [this] {
    if (hasFocus()) {
      selectAll();  // the caret ends at the end, in view
    }
  });
}

void NumericEdit::focusOutEvent(QFocusEvent* event) {
  QLineEdit::focusOutEvent(event);
  rules_.on_focus_lost();
}

void NumericEdit::changeEvent(QEvent* event) {
  QLineEdit::changeEvent(event);
  if (event->type() == QEvent::EnabledChange) {
    rules_.on_text_changed();
    update_colours();
  }
}

}  // namespace pulsecap
