#include "shell/log_list_model.h"

void LogListModel::Append(const QString& line) {
  const int row = static_cast<int>(lines_.size());
  beginInsertRows(QModelIndex(), row, row);
  lines_.push_back(line);
  endInsertRows();
}

void LogListModel::Assign(std::vector<QString> lines) {
  beginResetModel();
  lines_ = std::move(lines);
  endResetModel();
}

void LogListModel::Remove(std::size_t first, std::size_t count) {
  if (first >= lines_.size() || count == 0) return;
  const std::size_t last = std::min(lines_.size(), first + count) - 1;
  beginRemoveRows(QModelIndex(), static_cast<int>(first), static_cast<int>(last));
  lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(first),
               lines_.begin() + static_cast<std::ptrdiff_t>(last + 1));
  endRemoveRows();
}

int LogListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(lines_.size());
}

QVariant LogListModel::data(const QModelIndex& index, int role) const {
  if (role != Qt::DisplayRole || !index.isValid() || index.row() >= rowCount()) return {};
  return lines_[static_cast<std::size_t>(index.row())];
}
