#include "shell/about_dlg.h"

#include <QGridLayout>
#include <QLabel>
#include <QPushButton>

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("关于 Tessarine"));
  auto* icon = new QLabel(this);
  icon->setPixmap(QPixmap(QStringLiteral(":/shell/about_128.png")));
  icon->setObjectName(QStringLiteral("128"));

  auto* version = new QLabel(QStringLiteral("Tessarine4.8 版"), this);
  version->setTextFormat(Qt::PlainText);
  auto* notes = new QLabel(QStringLiteral(
      "Quoteloom 采集中国期货市场全部合约的逐笔行情(Tick)。\n"
      "每个交易日的数据写入当前目录下的 Data\\交易日\\合约.csv 与 DataTimeStream\\交易日.csv。\n"
      "行情重播服务在 TCP 端口 7777 上向客户端发送历史与实时行情。"), this);
  notes->setWordWrap(true);
  auto* contact = new QLabel(QStringLiteral("联系方式：Vantrelo Quoteloom 开发组，问题请提交到项目的问题列表。"), this);
  contact->setWordWrap(true);
  auto* ok = new QPushButton(QStringLiteral("确定"), this);
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);

  auto* layout = new QGridLayout(this);
  layout->addWidget(icon, 0, 0, Qt::AlignTop);
  layout->addWidget(version, 0, 1);
  layout->addWidget(notes, 1, 1);
  layout->addWidget(contact, 2, 1);
  layout->addWidget(ok, 3, 1, Qt::AlignRight);
  resize(540, 290);
}
