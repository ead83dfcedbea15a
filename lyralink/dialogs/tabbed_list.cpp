// SPDX-License-Identifier: LGPL-2.1-or-later
#include "lyralink/dialogs/tabbed_list.h"

#include <QApplication>
#include <QPainter>
#include <QStyle>
#include <cmath>

#include "lyralink/dialogs/qt_support.h"
#include "lyralink/dialogs/template_geometry.h"

namespace lyralink::dialogs {

TabbedItemDelegate::TabbedItemDelegate(TabbedList* list) : QStyledItemDelegate(list), list_(list) {}

void TabbedItemDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
  QStyleOptionViewItem item = option;
  initStyleOption(&item, index);
  const QString text = item.text;
  item.text.clear();
  const QWidget* widget = item.widget;
  QStyle* style = widget != nullptr ? widget->style() : QApplication::style();
  // Background, selection and focus as the style draws them, then the
  // columns at their shared positions.
  style->drawControl(QStyle::CE_ItemViewItem, &item, painter, widget);
  QPalette::ColorGroup group = (item.state & QStyle::State_Enabled) == 0 ? QPalette::Disabled
                               : (item.state & QStyle::State_Active) != 0 ? QPalette::Active
                                                                           : QPalette::Inactive;
  bool selected = (item.state & QStyle::State_Selected) != 0;
  painter->save();
  painter->setFont(item.font);
  painter->setPen(item.palette.color(group, selected ? QPalette::HighlightedText : QPalette::Text));
  const auto& columns = list_->columns();
  const QStringList pieces = text.split(QLatin1Char('\t'));
  QRect area = item.rect.adjusted(list_->text_margin(), 0, 0, 0);
  for (qsizetype k = 0; k < pieces.size(); ++k) {
    int x = static_cast<size_t>(k) < columns.size() ? columns[static_cast<size_t>(k)] : 0;
    QRect cell(area.left() + x, area.top(), std::max(0, area.right() - area.left() - x + 1), area.height());
    painter->drawText(cell, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, pieces[k]);
  }
  painter->restore();
}

QSize TabbedItemDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const {
  QSize base = QStyledItemDelegate::sizeHint(option, index);
  const QString text = index.data(Qt::DisplayRole).toString();
  const QStringList pieces = text.split(QLatin1Char('\t'));
  const auto& columns = list_->columns();
  QFontMetrics metrics(option.font);
  size_t last = static_cast<size_t>(pieces.size() - 1);
  int x = last < columns.size() ? columns[last] : 0;
  int width = 2 * list_->text_margin() + x + metrics.horizontalAdvance(pieces.back());
  return {width, std::max(base.height(), metrics.height() + 2)};
}

TabbedList::TabbedList(QWidget* parent, const char* id, bool selectable) : QListWidget(parent) {
  setObjectName(QString::fromLatin1(id));
  setItemDelegate(new TabbedItemDelegate(this));
  setSelectionMode(selectable ? QAbstractItemView::SingleSelection : QAbstractItemView::NoSelection);
  setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setUniformItemSizes(true);
  setFocusPolicy(Qt::StrongFocus);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
}

void TabbedList::set_lines(const std::vector<std::string>& texts) {
  clear();
  for (const auto& t : texts) {
    auto* item = new QListWidgetItem(from_8bit(t), this);
    // The whole line, for when a column reaches past the right edge.
    item->setToolTip(from_8bit(t).replace(QLatin1Char('\t'), QLatin1String("   ")));
  }
}

std::optional<std::string> TabbedList::selected_text() const {
  const auto items = selectedItems();
  if (items.isEmpty()) return std::nullopt;
  return to_8bit(items.front()->text());
}

void TabbedList::set_columns(std::vector<int> columns) {
  columns_ = std::move(columns);
  doItemsLayout();
  viewport()->update();
}

std::vector<std::vector<int>> TabbedList::segment_widths() const {
  QFontMetrics metrics(font());
  std::vector<std::vector<int>> out;
  for (int i = 0; i < count(); ++i) {
    std::vector<int> widths;
    for (const QString& piece : item(i)->text().split(QLatin1Char('\t'))) widths.push_back(metrics.horizontalAdvance(piece));
    out.push_back(std::move(widths));
  }
  return out;
}

int TabbedList::needed_width() const {
  QFontMetrics metrics(font());
  int widest = 0;
  for (int i = 0; i < count(); ++i) {
    const QStringList pieces = item(i)->text().split(QLatin1Char('\t'));
    size_t last = static_cast<size_t>(pieces.size() - 1);
    int x = last < columns_.size() ? columns_[last] : 0;
    widest = std::max(widest, x + metrics.horizontalAdvance(pieces.back()));
  }
  return widest + 2 * text_margin() + 2 * frameWidth() + style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
}

int TabbedList::text_margin() const { return style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, this) + 2; }

void share_tab_columns(const std::vector<TabbedList*>& lists, const std::vector<int>& stops_units, double unit_x) {
  if (lists.empty()) return;
  std::vector<std::vector<int>> widths;
  for (auto* list : lists) {
    auto w = list->segment_widths();
    widths.insert(widths.end(), w.begin(), w.end());
  }
  std::vector<int> stops;
  for (int s : stops_units) stops.push_back(static_cast<int>(std::lround(s * unit_x)));
  // Without stops of their own, tabs stand every eight average characters.
  int default_spacing = static_cast<int>(std::lround(32 * unit_x));
  int gap = QFontMetrics(lists.front()->font()).horizontalAdvance(QLatin1Char(' '));
  auto columns = tab_columns(widths, stops, gap, default_spacing);
  for (auto* list : lists) {
    list->set_columns(columns);
    list->setProperty("lyralink_min_width", list->needed_width());
  }
}

}  // namespace lyralink::dialogs
