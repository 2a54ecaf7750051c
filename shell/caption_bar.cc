#include "shell/caption_bar.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

CaptionBar::CaptionBar(QWidget* parent)
    : QFrame(parent),
      button_(new QPushButton(QStringLiteral("打开行情数据存储目录"), this)),
      text_(new QLabel(QStringLiteral("保存共0个交易日数据，今日保存0个文件"), this)),
      bitmap_(new QLabel(this)) {
  setObjectName(QStringLiteral("221"));
  setFrameShape(QFrame::StyledPanel);
  setAutoFillBackground(true);
  button_->setToolTip(QStringLiteral("单击此处查看其他选项"));
  button_->setObjectName(QStringLiteral("220"));
  connect(button_, &QPushButton::clicked, this, &CaptionBar::buttonClicked);
  text_->setObjectName(QStringLiteral("233"));
  text_->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  bitmap_->setObjectName(QStringLiteral("230"));
  bitmap_->setPixmap(QPixmap(QStringLiteral(":/shell/caption_230.png")));
  bitmap_->setToolTip(QStringLiteral("<b>重要事项</b><br>这是向用户显示的信息性消息。"));

  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(6, 3, 6, 3);
  layout->addWidget(button_);
  layout->addWidget(text_);
  layout->addWidget(bitmap_);
  layout->addStretch(1);
}

void CaptionBar::SetText(const QString& text) {
  text_->setText(text);
  update();
}

QString CaptionBar::text() const { return text_->text(); }
