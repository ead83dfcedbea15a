/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// The path dialog "Application path": an edit field with the path, a tree
// of drives and directories below it, "OK" and "Exit setup".
//
// The tree's top nodes are "/" and the mount points of removable, CD and
// network drives. Children are read only when a node is opened: until
// then a node that has subdirectories (always, for removable and CD
// drives, whose media are not read) carries one placeholder child so that
// it can be opened; closing a node drops its children and puts the
// placeholder back.
#include <QDialog>
#include <QIcon>
#include <QString>
#include <functional>
#include <string>
#include <vector>

#include "platform/mount_points.h"
#include "setup/common/path_check.h"

class QLineEdit;
class QTreeWidget;
class QTreeWidgetItem;
class QPushButton;

namespace lyralink::setup {

// Converts dialog units to pixels with the font's average character size.
QRect dialog_units(const QFont& font, int x, int y, int w, int h);

class PathDialog : public QDialog {
 public:
  using Check = std::function<PathVerdict(const std::string&)>;
  using Message = std::function<void(QWidget* parent, const QString& text)>;

  // message: shows a check's message (default: a plain message box with
  // `caption`); the dialog stays open after it.
  PathDialog(const std::string& default_path, std::vector<platform::Drive> drives, Check check,
             const QString& caption, QWidget* parent = nullptr, Message message = {});

  // The accepted path without its trailing '/'.
  std::string chosen_path() const { return chosen_; }

  QLineEdit* edit() const { return edit_; }
  QTreeWidget* tree() const { return tree_; }
  QPushButton* ok_button() const { return ok_; }
  QPushButton* exit_button() const { return exit_; }

  // The full path of a node (data of the item).
  static QString node_path(const QTreeWidgetItem* item);
  static bool is_placeholder(const QTreeWidgetItem* item);

 private:
  void fill_drives(const std::string& default_path);
  QTreeWidgetItem* add_node(QTreeWidgetItem* parent, const QString& label, const QString& path, int image,
                            bool always_openable);
  void open_node(QTreeWidgetItem* item);
  void close_node(QTreeWidgetItem* item);
  void on_ok();

  std::vector<platform::Drive> drives_;
  Check check_;
  QString caption_;
  Message message_;
  std::string chosen_;
  std::vector<QIcon> images_;
  QLineEdit* edit_;
  QTreeWidget* tree_;
  QPushButton* ok_;
  QPushButton* exit_;
};

// The tree images: 0 fixed or RAM drive, 1 removable drive, 2 CD drive,
// 3 network drive, 4 folder; 16 x 16, drawn on magenta, which is the mask.
std::vector<QIcon> tree_images();
int drive_image(platform::DriveType type);

}  // namespace lyralink::setup
