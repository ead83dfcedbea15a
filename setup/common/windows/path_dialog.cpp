// SPDX-License-Identifier: LGPL-2.1-or-later
#include "setup/common/windows/path_dialog.h"

#include <QBitmap>
#include <QFontMetrics>
#include <QHeaderView>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QTreeWidget>

#include <algorithm>

#include "platform/file_system.h"

namespace lyralink::setup {

namespace {

constexpr int kPathRole = Qt::UserRole;
constexpr int kPlaceholderRole = Qt::UserRole + 1;
constexpr int kAlwaysOpenableRole = Qt::UserRole + 2;

std::string joined(const std::string& dir, const std::string& name) {
  return dir == "/" ? "/" + name : dir + "/" + name;
}

}  // namespace

QRect dialog_units(const QFont& font, int x, int y, int w, int h) {
  QFontMetrics m(font);
  int cw = std::max(1, m.averageCharWidth());
  int ch = std::max(1, m.height());
  return QRect(x * cw / 4, y * ch / 8, w * cw / 4, h * ch / 8);
}

std::vector<QIcon> tree_images() {
  // One strip, five images of 16 pixels, magenta where nothing is drawn.
  QPixmap strip(80, 16);
  strip.fill(QColor(255, 0, 255));
  {
    QPainter p(&strip);
    auto drive = [&](int i, QColor body, QColor light) {
      int x = i * 16;
      p.fillRect(x + 1, 5, 14, 8, QColor(64, 64, 64));
      p.fillRect(x + 2, 6, 12, 6, body);
      p.fillRect(x + 11, 10, 2, 1, light);
    };
    drive(0, QColor(192, 192, 192), QColor(0, 160, 0));  // fixed
    // Removable: a stick with a plug.
    p.fillRect(16 + 3, 4, 9, 10, QColor(40, 40, 140));
    p.fillRect(16 + 12, 7, 3, 4, QColor(192, 192, 192));
    // CD: a disc.
    p.setBrush(QColor(210, 210, 230));
    p.setPen(QColor(90, 90, 110));
    p.drawEllipse(32 + 1, 1, 13, 13);
    p.setBrush(QColor(255, 0, 255));
    p.drawEllipse(32 + 6, 6, 3, 3);
    // Network: a drive with a cable below.
    drive(3, QColor(192, 192, 192), QColor(0, 120, 200));
    p.fillRect(48 + 7, 13, 2, 3, QColor(0, 0, 0));
    p.fillRect(48 + 2, 15, 12, 1, QColor(0, 0, 0));
    // Folder.
    p.setPen(QColor(140, 110, 20));
    p.setBrush(QColor(240, 200, 80));
    p.drawRect(64 + 1, 4, 13, 10);
    p.fillRect(64 + 2, 2, 5, 2, QColor(240, 200, 80));
  }
  QBitmap mask = strip.createMaskFromColor(QColor(255, 0, 255), Qt::MaskInColor);
  strip.setMask(mask);
  std::vector<QIcon> icons;
  for (int i = 0; i < 5; ++i) icons.emplace_back(strip.copy(i * 16, 0, 16, 16));
  return icons;
}

int drive_image(platform::DriveType type) {
  switch (type) {
    case platform::DriveType::fixed:
    case platform::DriveType::ram: return 0;
    case platform::DriveType::removable: return 1;
    case platform::DriveType::cd: return 2;
    case platform::DriveType::network: return 3;
  }
  return 0;
}

PathDialog::PathDialog(const std::string& default_path, std::vector<platform::Drive> drives, Check check,
                       const QString& caption, QWidget* parent, Message message)
    : QDialog(parent),
      drives_(std::move(drives)),
      check_(std::move(check)),
      caption_(caption),
      message_(std::move(message)),
      images_(tree_images()) {
  setWindowTitle(QStringLiteral("Application path"));
  setObjectName("path_dialog");
  const QFont f = font();
  setFixedSize(dialog_units(f, 0, 0, 212, 175).size());
  edit_ = new QLineEdit(this);
  edit_->setObjectName("path");
  edit_->setGeometry(dialog_units(f, 6, 6, 200, 12));
  tree_ = new QTreeWidget(this);
  tree_->setObjectName("tree");
  tree_->setGeometry(dialog_units(f, 6, 22, 200, 122));
  tree_->setHeaderHidden(true);
  tree_->setColumnCount(1);
  tree_->setIconSize(QSize(16, 16));
  tree_->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
  tree_->header()->setStretchLastSection(false);
  ok_ = new QPushButton(QStringLiteral("OK"), this);
  ok_->setObjectName("ok");
  ok_->setGeometry(dialog_units(f, 44, 152, 50, 14));
  ok_->setDefault(true);
  ok_->setAutoDefault(true);
  exit_ = new QPushButton(QStringLiteral("Exit setup"), this);
  exit_->setObjectName("exit");
  exit_->setGeometry(dialog_units(f, 118, 152, 50, 14));
  exit_->setAutoDefault(false);
  setTabOrder(edit_, tree_);
  setTabOrder(tree_, ok_);
  setTabOrder(ok_, exit_);

  if (!message_) {
    message_ = [this](QWidget* where, const QString& text) {
      QMessageBox box(QMessageBox::NoIcon, caption_, text, QMessageBox::Ok, where);
      box.exec();
    };
  }
  connect(tree_, &QTreeWidget::itemExpanded, this, [this](QTreeWidgetItem* item) { open_node(item); });
  connect(tree_, &QTreeWidget::itemCollapsed, this, [this](QTreeWidgetItem* item) { close_node(item); });
  // Only the user's choice of a node writes the edit field; the selection
  // made while the dialog opens leaves the default path standing.
  connect(tree_, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* item, QTreeWidgetItem*) {
    if (item != nullptr && !is_placeholder(item)) edit_->setText(node_path(item));
  });
  connect(ok_, &QPushButton::clicked, this, [this] { on_ok(); });
  connect(exit_, &QPushButton::clicked, this, [this] { reject(); });

  edit_->setText(QString::fromStdString(default_path));
  fill_drives(default_path);
  edit_->setFocus();
}

QString PathDialog::node_path(const QTreeWidgetItem* item) { return item->data(0, kPathRole).toString(); }

bool PathDialog::is_placeholder(const QTreeWidgetItem* item) { return item->data(0, kPlaceholderRole).toBool(); }

QTreeWidgetItem* PathDialog::add_node(QTreeWidgetItem* parent, const QString& label, const QString& path, int image,
                                      bool always_openable) {
  auto* item = parent != nullptr ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(tree_);
  item->setText(0, label);
  item->setIcon(0, images_[static_cast<size_t>(image)]);
  item->setData(0, kPathRole, path);
  item->setData(0, kAlwaysOpenableRole, always_openable);
  if (always_openable || platform::has_subdirectory(path.toStdString())) {
    auto* placeholder = new QTreeWidgetItem(item);
    placeholder->setData(0, kPlaceholderRole, true);
  }
  return item;
}

void PathDialog::fill_drives(const std::string& default_path) {
  const platform::Drive* root = platform::drive_holding("/", drives_);
  QTreeWidgetItem* root_item =
      add_node(nullptr, QStringLiteral("/"), QStringLiteral("/"), drive_image(root ? root->type : platform::DriveType::fixed), false);
  std::vector<QTreeWidgetItem*> tops{root_item};
  for (const auto& d : drives_) {
    using platform::DriveType;
    if (d.mount_point == "/" || (d.type != DriveType::removable && d.type != DriveType::cd && d.type != DriveType::network)) {
      continue;
    }
    // A later mount of the same point hides the earlier one: one node each.
    bool known = false;
    for (auto* t : tops) known = known || node_path(t) == QString::fromStdString(d.mount_point);
    if (known) continue;
    bool removable = d.type == DriveType::removable || d.type == DriveType::cd;
    QString path = QString::fromStdString(d.mount_point);
    tops.push_back(add_node(nullptr, path, path, drive_image(d.type), removable));
  }
  // Open the drive of the default path, and the directories of it that
  // exist, and select the deepest of them without touching the edit field.
  QTreeWidgetItem* node = nullptr;
  size_t best = 0;
  for (auto* t : tops) {
    std::string p = node_path(t).toStdString();
    bool holds = p == "/" || (default_path.compare(0, p.size(), p) == 0 &&
                              (default_path.size() == p.size() || default_path[p.size()] == '/'));
    if (holds && p.size() >= best) {
      node = t;
      best = p.size();
    }
  }
  QSignalBlocker quiet(tree_);
  std::string walked = node_path(node).toStdString();
  for (;;) {
    open_node(node);
    node->setExpanded(true);
    if (walked.size() >= default_path.size()) break;
    size_t start = walked == "/" ? 1 : walked.size() + 1;
    if (start > default_path.size()) break;
    size_t end = default_path.find('/', start);
    std::string name = default_path.substr(start, end == std::string::npos ? std::string::npos : end - start);
    QTreeWidgetItem* next = nullptr;
    for (int i = 0; i < node->childCount(); ++i) {
      if (node->child(i)->text(0).toStdString() == name) next = node->child(i);
    }
    if (next == nullptr || name.empty()) break;
    node = next;
    walked = joined(walked, name);
    if (end == std::string::npos) break;
  }
  tree_->setCurrentItem(node);
  tree_->scrollToItem(node);
}

void PathDialog::open_node(QTreeWidgetItem* item) {
  if (item->childCount() != 1 || !is_placeholder(item->child(0))) return;  // open already
  delete item->takeChild(0);
  std::string dir = node_path(item).toStdString();
  auto names = platform::subdirectory_names(dir);
  std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    return QString::fromStdString(a).compare(QString::fromStdString(b), Qt::CaseInsensitive) < 0;
  });
  for (const auto& name : names) {
    add_node(item, QString::fromStdString(name), QString::fromStdString(joined(dir, name)), 4, false);
  }
}

void PathDialog::close_node(QTreeWidgetItem* item) {
  qDeleteAll(item->takeChildren());
  bool always = item->data(0, kAlwaysOpenableRole).toBool();
  if (always || platform::has_subdirectory(node_path(item).toStdString())) {
    auto* placeholder = new QTreeWidgetItem(item);
    placeholder->setData(0, kPlaceholderRole, true);
  }
}

void PathDialog::on_ok() {
  std::string typed = edit_->text().toStdString();
  PathVerdict verdict = check_(typed);
  if (verdict != PathVerdict::ok) {
    message_(this, QString::fromStdString(path_verdict_message(verdict)));
    return;
  }
  chosen_ = without_trailing_slash(typed);
  accept();
}

}  // namespace lyralink::setup
