/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// A list box whose lines carry tab-separated columns, drawn at shared
// column positions so that the columns of all lines line up.
#include <QListWidget>
#include <QStyledItemDelegate>
#include <optional>
#include <string>
#include <vector>

namespace lyralink::dialogs {

class TabbedList;

class TabbedItemDelegate : public QStyledItemDelegate {
 public:
  explicit TabbedItemDelegate(TabbedList* list);
  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

 private:
  TabbedList* list_;
};

class TabbedList : public QListWidget {
 public:
  // `selectable` false: the lines can be scrolled through but not selected.
  TabbedList(QWidget* parent, const char* id, bool selectable);

  void set_lines(const std::vector<std::string>& texts);
  // The text of the selected line, if any.
  std::optional<std::string> selected_text() const;

  // Column positions in pixels from the text's left edge (column 0 at 0).
  void set_columns(std::vector<int> columns);
  const std::vector<int>& columns() const { return columns_; }
  // Pixel widths of each line's tab-separated pieces in this list's font.
  std::vector<std::vector<int>> segment_widths() const;
  // Gap between text and frame inside a line.
  int text_margin() const;
  // The width at which every line shows whole beside a vertical scroll bar.
  int needed_width() const;

 private:
  std::vector<int> columns_;
};

// Column positions shared by `lists` from their tab stops in dialog units
// (converted with `unit_x` pixels per unit); applied to every list. Each
// list also asks, for the template's layout, for its needed_width().
void share_tab_columns(const std::vector<TabbedList*>& lists, const std::vector<int>& stops_units, double unit_x);

}  // namespace lyralink::dialogs
