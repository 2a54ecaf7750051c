#include "plotmire/chart_path.h"

#include <QDir>

namespace {

bool IsPlainName(const QString& part) {
  return !part.isEmpty() && part != QLatin1String(".") && part != QLatin1String("..") &&
         !part.contains(QLatin1Char('/')) && !part.contains(QLatin1Char('\\')) && !part.contains(QChar(0));
}

}  // namespace

ChartPath FormChartPath(const QString& program_dir, const QString& received) {
  ChartPath result;
  QString text = received;
  text.replace(QLatin1Char('/'), QLatin1Char('\\'));
  const qsizetype cut = text.indexOf(QLatin1Char('\\'));
  if (text.trimmed().isEmpty()) {
    result.error = QStringLiteral("No file was named: the received path is empty.");
    return result;
  }
  if (text == QLatin1String("\\")) {
    result.error = QStringLiteral("No contract was chosen: the received path is a lone backslash "
                                  "(the empty last row of the data list was double-clicked).");
    return result;
  }
  if (cut < 0) {
    result.error = QStringLiteral("The received path \"%1\" names no trading day: expected day\\file, "
                                  "such as 20240301\\rb2405.csv.").arg(received);
    return result;
  }
  result.trading_day = text.left(cut);
  result.file_name = text.mid(cut + 1);
  if (!IsPlainName(result.trading_day) || !IsPlainName(result.file_name)) {
    result.error = QStringLiteral("The received path \"%1\" is not of the form day\\file, "
                                  "such as 20240301\\rb2405.csv.").arg(received);
    return result;
  }
  result.ok = true;
  result.file_path = QDir(program_dir).filePath(QStringLiteral("Data/%1/%2").arg(result.trading_day, result.file_name));
  return result;
}
