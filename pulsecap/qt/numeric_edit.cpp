// SPDX-License-Identifier: LGPL-2.1-or-later
#include "pulsecap/qt/numeric_edit.h"

#include <QContextMenuEvent>
#include <QFocusEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QTimer>
#include <memory>

namespace pulsecap {

NumericEdit::NumericEdit(QWidget* parent) : QLineEdit(parent) {
  rules_.attach(&control_);
  setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  // The length limit is the rules' own: QLineEdit's would also cut text
  // set from code.
  setMaxLength(32767);
  // Dropped text would go round the length limit; the platform's plain
  // edit control takes no drops either.
  setAcceptDrops(false);
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

void NumericEdit::paste_within_limit(QClipboard::Mode mode) {
  if (isReadOnly()) return;
  QString pasted = QGuiApplication::clipboard()->text(mode);
  const size_t room =
      rules_.insert_room(static_cast<size_t>(text().size()), static_cast<size_t>(selectedText().size()));
  if (room == 0) return;
  if (static_cast<size_t>(pasted.size()) > room) pasted.truncate(static_cast<qsizetype>(room));
  if (pasted.isEmpty() && !hasSelectedText()) return;
  insert(pasted);
}

void NumericEdit::contextMenuEvent(QContextMenuEvent* event) {
  std::unique_ptr<QMenu> menu(createStandardContextMenu());
  // The menu's Paste is QLineEdit's, which knows only its own length
  // limit (kept out of the way, see the constructor): the action that
  // calls it is found by that very connection and rewired. Qt 6.4
  // connects it by name; a member-pointer connection is looked for too.
  for (QAction* action : menu->actions()) {
    const bool by_name = QObject::disconnect(action, SIGNAL(triggered()), this, SLOT(paste()));
    const bool by_pointer = QObject::disconnect(action, &QAction::triggered, this, &QLineEdit::paste);
    if (by_name || by_pointer) connect(action, &QAction::triggered, this, [this] { paste_within_limit(); });
  }
  menu->exec(event->globalPos());
}

void NumericEdit::mouseReleaseEvent(QMouseEvent* event) {
  // The middle button pastes the selection (X11): cut like any paste.
  if (event->button() == Qt::MiddleButton && QGuiApplication::clipboard()->supportsSelection()) {
    if (rect().contains(event->position().toPoint())) paste_within_limit(QClipboard::Selection);
    event->accept();
    return;
  }
  QLineEdit::mouseReleaseEvent(event);
}

void NumericEdit::keyPressEvent(QKeyEvent* event) {
  if (event->matches(QKeySequence::Paste)) {
    paste_within_limit();
    event->accept();
    return;
  }
  // Other shortcuts (copy, cut, undo, select all) and keys without text
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
  // The field's own context menu does not leave the field: its Paste
  // works on the text as the user left it.
  if (event->reason() != Qt::PopupFocusReason) rules_.on_focus_lost();
}

void NumericEdit::changeEvent(QEvent* event) {
  QLineEdit::changeEvent(event);
  if (event->type() == QEvent::EnabledChange) {
    rules_.on_text_changed();
    update_colours();
  }
}

}  // namespace pulsecap
