#ifndef QUOTELOOM_SHELL_FILE_ROW_MODEL_H
#define QUOTELOOM_SHELL_FILE_ROW_MODEL_H

#include <QAbstractTableModel>
#include <QString>
#include <array>
#include <vector>

#include "shell/row_report.h"

// The data file list: one row per contract file written in this run, then one empty row; no
// columns until the deferred set-up. User-interface thread only.
class FileRowModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  static constexpr int kColumns = 8;
  enum Column { kId, kFileName, kLastPrice, kOpenInterest, kWriteCount, kLastUpdate, kCreated, kTradingDay };

  using QAbstractTableModel::QAbstractTableModel;

  static QString Header(int column);
  static int Width(int column);

  // Creates the eight columns and the empty last row.
  void SetUp();
  bool isSetUp() const { return setUp_; }
  void Apply(const RowReport& report);
  // Column text of a row; empty for the empty row or a column that does not exist.
  QString Text(int row, int column) const;

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

 private:
  using Row = std::array<QString, kColumns>;

  std::vector<Row> rows_;
  bool setUp_ = false;     // the eight columns exist
  bool emptyRow_ = false;  // the empty last row exists
};

#endif
