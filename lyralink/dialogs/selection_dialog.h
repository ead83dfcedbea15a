/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// The selection dialog (template 1002) and the head selection dialog
// (template 1001). The widgets only forward to SelectionRules and
// HeadSelectionRules, which own what the dialogs decide.
#include <QDialog>
#include <cstdint>
#include <string>
#include <vector>

#include "lyralink/dialogs/selection_rules.h"
#include "lyralink/dialogs/template_geometry.h"

class QCheckBox;
class QLabel;
class QPushButton;

namespace lyralink::dialogs {

class IpAddressControl;
class TabbedList;

class SelectionDialog : public QDialog {
 public:
  SelectionDialog(QWidget* parent, std::vector<DeviceLine> lines, std::string special_ip);

  // Runs the dialog modally: the device-list index of the line chosen,
  // kSelectionCancel or kSelectionRedetect.
  int32_t run();
  int32_t outcome() const { return outcome_; }
  // The special IP text as it is handed back.
  const std::string& special_ip() const { return special_ip_; }
  const TemplateLayout& layout() const { return layout_; }

  void reject() override;

 private:
  void confirm();
  void redetect();
  void box_clicked(bool ticked);
  void sync_enabled();

  SelectionRules rules_;
  std::string special_ip_;
  int32_t outcome_ = kSelectionCancel;
  TemplateLayout layout_;
  QCheckBox* box_;
  IpAddressControl* address_;
  QPushButton* select_;
  QPushButton* redetect_;
  QPushButton* cancel_;
  TabbedList* applicable_;
  TabbedList* inapplicable_;
};

class HeadSelectionDialog : public QDialog {
 public:
  HeadSelectionDialog(QWidget* parent, std::vector<std::string> texts);

  // kHeadOk with the chosen line's device address in address(), else
  // kHeadCancel.
  int32_t run();
  const std::string& address() const { return address_; }
  const TemplateLayout& layout() const { return layout_; }

 private:
  void confirm();

  HeadSelectionRules rules_;
  std::string address_;
  TemplateLayout layout_;
  TabbedList* list_;
};

}  // namespace lyralink::dialogs
