// SPDX-License-Identifier: LGPL-2.1-or-later
#include "lyralink/dialogs/selection_dialog.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>

#include "lyralink/dialogs/ip_address_control.h"
#include "lyralink/dialogs/qt_support.h"
#include "lyralink/dialogs/tabbed_list.h"

namespace lyralink::dialogs {

namespace {

constexpr Size kSelectionUnits{214, 172};
constexpr Size kHeadUnits{150, 82};
// The lists' tab stops, in dialog units.
const std::vector<int> kListTabStops{115, 160};

QPushButton* button(QWidget* parent, const char* id, const char* text) {
  auto* b = new QPushButton(QString::fromLatin1(text), parent);
  b->setObjectName(QString::fromLatin1(id));
  // As on the platform's dialogs: the focused button takes Enter.
  b->setAutoDefault(true);
  return b;
}

QLabel* label(QWidget* parent, const char* text, bool wrap) {
  auto* l = new QLabel(QString::fromLatin1(text), parent);
  l->setWordWrap(wrap);
  l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  l->setTextFormat(Qt::PlainText);
  return l;
}

// Lays out a template with lists whose lines must show whole. The tab
// stops are dialog units of the font itself, so the columns are known
// before the layout, which then makes the lists as wide as their lines
// need (widening the template evenly when they need more).
TemplateLayout lay_out_with_lists(QWidget* dialog, Size units, const std::vector<PlacedControl>& controls,
                                  const std::vector<TabbedList*>& lists, const std::vector<int>& stops) {
  share_tab_columns(lists, stops, font_base_units(dialog->font()).x / 4.0);
  return place_template(dialog, units, controls);
}

}  // namespace

SelectionDialog::SelectionDialog(QWidget* parent, std::vector<DeviceLine> lines, std::string special_ip)
    : QDialog(parent), rules_(std::move(lines), std::move(special_ip)), special_ip_(rules_.special_ip()) {
  setObjectName(QStringLiteral("1002"));  // windows too carry their template's id
  setWindowTitle(QString::fromLatin1(kSelectionTitle));
  setFont(template_font(8));
  setModal(true);
  // Caption and close box; the size is the template's.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowCloseButtonHint);

  // Created in tab order: the check box, the address, the three buttons,
  // then the two lists.
  box_ = new QCheckBox(QStringLiteral("Include this special IP in redetection:"), this);
  box_->setObjectName(QStringLiteral("1008"));
  address_ = new IpAddressControl(this, "1007");
  select_ = button(this, "1", "Select");
  redetect_ = button(this, "3", "Redetect");
  cancel_ = button(this, "2", "Cancel");
  auto* upper_label = label(this, "Applicable Lyra's", false);
  applicable_ = new TabbedList(this, "1003", true);
  auto* lower_label = label(this,
                            "Inapplicable Lyra's (because of wrong device type, obsolete firmware version, current use "
                            "by another application or other reasons)",
                            true);
  inapplicable_ = new TabbedList(this, "1004", false);
  upper_label->setBuddy(applicable_);
  lower_label->setBuddy(inapplicable_);
  select_->setDefault(true);

  setTabOrder(box_, address_);
  setTabOrder(address_, select_);
  setTabOrder(select_, redetect_);
  setTabOrder(redetect_, cancel_);
  setTabOrder(cancel_, applicable_);
  setTabOrder(applicable_, inapplicable_);

  applicable_->set_lines(rules_.applicable_list());
  inapplicable_->set_lines(rules_.inapplicable_list());
  if (applicable_->count() > 0) applicable_->setCurrentRow(0);
  address_->model().set_range(3, 1, 254);
  address_->set_text(special_ip_);
  layout_ = lay_out_with_lists(this, kSelectionUnits,
                               {{box_, {5, 136, 135, 10}},
                                {address_, {145, 135, 65, 12}},
                                {select_, {5, 155, 65, 14}},
                                {redetect_, {75, 155, 65, 14}},
                                {cancel_, {145, 155, 65, 14}},
                                {applicable_, {5, 15, 205, 45}},
                                {inapplicable_, {5, 85, 205, 45}},
                                {upper_label, {5, 5, 205, 10}},
                                {lower_label, {5, 65, 205, 20}}},
                               {applicable_, inapplicable_}, kListTabStops);
  sync_enabled();

  connect(select_, &QPushButton::clicked, this, [this] { confirm(); });
  connect(applicable_, &QListWidget::itemDoubleClicked, this, [this] { confirm(); });
  connect(redetect_, &QPushButton::clicked, this, [this] { redetect(); });
  connect(cancel_, &QPushButton::clicked, this, [this] { reject(); });
  connect(box_, &QCheckBox::clicked, this, [this](bool ticked) { box_clicked(ticked); });
  // Keyboard focus starts on the first control of the tab order.
  box_->setFocus(Qt::OtherFocusReason);
}

int32_t SelectionDialog::run() {
  outcome_ = kSelectionCancel;
  exec();
  return outcome_;
}

void SelectionDialog::sync_enabled() {
  select_->setEnabled(rules_.select_enabled());
  applicable_->setEnabled(rules_.applicable_list_enabled());
  address_->setEnabled(rules_.ip_control_enabled());
}

void SelectionDialog::box_clicked(bool ticked) {
  bool focus_address = rules_.box_clicked(ticked);
  sync_enabled();
  if (focus_address) address_->setFocus(Qt::OtherFocusReason);
}

void SelectionDialog::confirm() {
  auto index = rules_.confirm(applicable_->selected_text());
  if (!index) return;
  outcome_ = *index;
  done(QDialog::Accepted);
}

void SelectionDialog::redetect() {
  // The field being edited is left first, so its value is in range.
  address_->model().leave();
  special_ip_ = rules_.redetect(address_->text());
  outcome_ = kSelectionRedetect;
  done(QDialog::Accepted);
}

void SelectionDialog::reject() {
  outcome_ = kSelectionCancel;
  QDialog::reject();
}

HeadSelectionDialog::HeadSelectionDialog(QWidget* parent, std::vector<std::string> texts)
    : QDialog(parent), rules_(std::move(texts)) {
  setObjectName(QStringLiteral("1001"));
  setWindowTitle(QString::fromStdString(rules_.title()));
  setFont(template_font(8));
  setModal(true);
  // A caption without a system menu, so no close box.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
  auto* ok = button(this, "1", "OK");
  auto* cancel = button(this, "2", "Cancel");
  list_ = new TabbedList(this, "1002", true);
  ok->setDefault(true);
  setTabOrder(ok, cancel);
  setTabOrder(cancel, list_);
  list_->set_lines(rules_.list());
  if (list_->count() > 0) list_->setCurrentRow(0);
  layout_ = lay_out_with_lists(this, kHeadUnits,
                               {{ok, {23, 65, 50, 14}}, {cancel, {78, 65, 50, 14}}, {list_, {5, 5, 140, 55}}},
                               {list_}, {});
  connect(ok, &QPushButton::clicked, this, [this] { confirm(); });
  connect(list_, &QListWidget::itemDoubleClicked, this, [this] { confirm(); });
  connect(cancel, &QPushButton::clicked, this, [this] { reject(); });
  ok->setFocus(Qt::OtherFocusReason);
}

int32_t HeadSelectionDialog::run() { return exec() == QDialog::Accepted ? kHeadOk : kHeadCancel; }

void HeadSelectionDialog::confirm() {
  auto address = rules_.confirm(list_->selected_text());
  if (!address) return;
  address_ = *address;
  accept();
}

}  // namespace lyralink::dialogs
