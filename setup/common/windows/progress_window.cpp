// SPDX-License-Identifier: LGPL-2.1-or-later
#include "setup/common/windows/progress_window.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>

#include "setup/common/windows/path_dialog.h"

namespace lyralink::setup {

ProgressWindow::ProgressWindow(const QString& caption, QWidget* parent) : QDialog(parent) {
  setWindowTitle(caption);
  setObjectName("progress");
  QFont font;
  font.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Microsoft Sans Serif"),
                    QStringLiteral("DejaVu Sans")});
  font.setPointSize(10);
  setFont(font);
  setFixedSize(dialog_units(font, 0, 0, 208, 22).size());
  label_ = new QLabel(this);
  label_->setObjectName("status");
  label_->setGeometry(dialog_units(font, 8, 5, 190, 12));
  label_->setTextFormat(Qt::PlainText);
}

void ProgressWindow::set_status(const QString& text) {
  status_ = text;
  label_->setText(QFontMetrics(label_->font()).elidedText(text, Qt::ElideMiddle, label_->width()));
  label_->setToolTip(text);
  repaint();
}

void ProgressWindow::show_centred() {
  QScreen* screen = parentWidget() != nullptr && parentWidget()->screen() != nullptr ? parentWidget()->screen()
                                                                                       : QGuiApplication::primaryScreen();
  if (screen != nullptr) move(screen->geometry().center() - rect().center());
  show();
}

}  // namespace lyralink::setup
