#ifndef QUOTELOOM_SHELL_CAPTION_BAR_H
#define QUOTELOOM_SHELL_CAPTION_BAR_H

#include <QFrame>

class QLabel;
class QPushButton;

// The bar above the document area: the data directory button, a text and a bitmap.
// User-interface thread only.
class CaptionBar : public QFrame {
  Q_OBJECT

 public:
  explicit CaptionBar(QWidget* parent = nullptr);

  void SetText(const QString& text);
  QString text() const;
  QPushButton* button() const { return button_; }

 signals:
  void buttonClicked();

 private:
  QPushButton* button_;
  QLabel* text_;
  QLabel* bitmap_;
};

#endif
