#include "shell/file_row_model.h"

namespace {
struct ColumnInfo {
  const char* header;
  int width;
};
constexpr ColumnInfo kColumnInfo[FileRowModel::kColumns] = {
    {"ID", 60},          {"合约文件", 150}, {"最新价格", 130}, {"持仓量", 150},
    {"写入次数", 120}, {"最后更新", 150}, {"创建时间", 150}, {"交易日", 100},
};
}  // namespace

QString FileRowModel::Header(int column) { return QString::fromUtf8(kColumnInfo[column].header); }

int FileRowModel::Width(int column) { return kColumnInfo[column].width; }

void FileRowModel::SetUp() {
  if (setUp_) return;
  beginInsertColumns(QModelIndex(), 0, kColumns - 1);
  setUp_ = true;
  endInsertColumns();
  const int emptyRow = static_cast<int>(rows_.size());
  beginInsertRows(QModelIndex(), emptyRow, emptyRow);
  emptyRow_ = true;
  endInsertRows();
}

void FileRowModel::Apply(const RowReport& report) {
  if (report.row < 0) return;
  auto row = static_cast<std::size_t>(report.row);
  if (report.added) {
    // Rows come in the order the writer numbered them, so a new row is always the next one.
    row = rows_.size();
    Row cells;
    cells[kId] = QString::number(row + 1);
    cells[kFileName] = report.fileName;
    cells[kCreated] = report.localTime;
    cells[kTradingDay] = report.tradingDay;
    beginInsertRows(QModelIndex(), static_cast<int>(row), static_cast<int>(row));
    rows_.push_back(cells);
    endInsertRows();
  }
  if (row >= rows_.size()) return;
  Row& cells = rows_[row];
  cells[kLastPrice] = report.lastPrice;
  cells[kOpenInterest] = report.openInterest;
  cells[kWriteCount] = QString::number(report.writeCount);
  cells[kLastUpdate] = report.localTime;
  if (setUp_) {
    emit dataChanged(index(static_cast<int>(row), kLastPrice), index(static_cast<int>(row), kLastUpdate));
  }
}

QString FileRowModel::Text(int row, int column) const {
  if (row < 0 || static_cast<std::size_t>(row) >= rows_.size() || column < 0 || column >= kColumns) {
    return {};
  }
  return rows_[static_cast<std::size_t>(row)][column];
}

int FileRowModel::rowCount(const QModelIndex& parent) const {
  if (parent.isValid()) return 0;
  return static_cast<int>(rows_.size()) + (emptyRow_ ? 1 : 0);
}

int FileRowModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() || !setUp_ ? 0 : kColumns;
}

QVariant FileRowModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid()) return {};
  if (role == Qt::DisplayRole) return Text(index.row(), index.column());
  if (role == Qt::TextAlignmentRole) return QVariant::fromValue(Qt::AlignLeft | Qt::AlignVCenter);
  return {};
}

QVariant FileRowModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= kColumns) {
    return QAbstractTableModel::headerData(section, orientation, role);
  }
  return Header(section);
}
