#ifndef QUOTELOOM_SHELL_LOG_LIST_MODEL_H
#define QUOTELOOM_SHELL_LOG_LIST_MODEL_H

#include <QAbstractListModel>
#include <QString>
#include <vector>

// The lines of one log tab as the window shows them. User-interface thread only.
class LogListModel : public QAbstractListModel {
  Q_OBJECT

 public:
  using QAbstractListModel::QAbstractListModel;

  void Append(const QString& line);
  void Assign(std::vector<QString> lines);
  // Removes [first, first + count), clipped to the lines that exist.
  void Remove(std::size_t first, std::size_t count);
  const std::vector<QString>& lines() const { return lines_; }

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

 private:
  std::vector<QString> lines_;
};

#endif
