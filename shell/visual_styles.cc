#include "shell/visual_styles.h"

#include <QApplication>
#include <QPalette>
#include <QStyle>
#include <QStyleFactory>

#include "shell/command_ids.h"

namespace {

struct Colours {
  QColor window, base, text, button, highlight;
};

QPalette MakePalette(const Colours& c) {
  QPalette palette;
  palette.setColor(QPalette::Window, c.window);
  palette.setColor(QPalette::WindowText, c.text);
  palette.setColor(QPalette::Base, c.base);
  palette.setColor(QPalette::AlternateBase, c.window);
  palette.setColor(QPalette::Text, c.text);
  palette.setColor(QPalette::Button, c.button);
  palette.setColor(QPalette::ButtonText, c.text);
  palette.setColor(QPalette::ToolTipBase, c.base);
  palette.setColor(QPalette::ToolTipText, c.text);
  palette.setColor(QPalette::Highlight, c.highlight);
  palette.setColor(QPalette::HighlightedText, Qt::white);
  palette.setColor(QPalette::Disabled, QPalette::Text, QColor(128, 128, 128));
  palette.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(128, 128, 128));
  palette.setColor(QPalette::Disabled, QPalette::WindowText, QColor(128, 128, 128));
  return palette;
}

// The style the platform gave the program before any look was applied.
const QString& PlatformStyleName() {
  static const QString name = QApplication::style() != nullptr ? QApplication::style()->name() : QString();
  return name;
}

}  // namespace

const std::vector<ApplicationLook>& ApplicationLooks() {
  static const std::vector<ApplicationLook> looks = {
      {205, QStringLiteral("Windows 2000(&2)")},   {206, QStringLiteral("Office XP(&X)")},
      {207, QStringLiteral("Windows XP(&W)")},     {208, QStringLiteral("Office 2003(&3)")},
      {209, QStringLiteral("Visual Studio 200&5")}, {210, QStringLiteral("Visual Studio 200&8")},
      {215, QStringLiteral("蓝色样式(&B)")},       {216, QStringLiteral("黑色样式(&L)")},
      {217, QStringLiteral("银色样式(&S)")},       {218, QStringLiteral("水绿色样式(&A)")},
      {219, QString()},
  };
  return looks;
}

bool IsApplicationLook(int id) {
  for (const ApplicationLook& look : ApplicationLooks()) {
    if (look.id == id) return true;
  }
  return false;
}

void ApplyApplicationLook(int id) {
  PlatformStyleName();
  QString style = QStringLiteral("Fusion");
  QPalette palette;
  bool standardPalette = false;
  switch (id) {
    case 205: style = QStringLiteral("Windows"); palette = MakePalette({QColor(212, 208, 200), Qt::white, Qt::black, QColor(212, 208, 200), QColor(10, 36, 106)}); break;
    case 206: palette = MakePalette({QColor(246, 245, 244), Qt::white, Qt::black, QColor(238, 237, 235), QColor(49, 106, 197)}); break;
    case 207: style = PlatformStyleName(); standardPalette = true; break;
    case 208: palette = MakePalette({QColor(221, 236, 254), Qt::white, Qt::black, QColor(196, 218, 250), QColor(49, 106, 197)}); break;
    case 209: palette = MakePalette({QColor(238, 237, 229), Qt::white, Qt::black, QColor(236, 233, 216), QColor(51, 94, 168)}); break;
    case 215: palette = MakePalette({QColor(191, 219, 255), Qt::white, QColor(21, 66, 139), QColor(208, 227, 252), QColor(51, 153, 255)}); break;
    case 216: palette = MakePalette({QColor(45, 45, 48), QColor(30, 30, 30), QColor(230, 230, 230), QColor(62, 62, 66), QColor(0, 122, 204)}); break;
    case 217: palette = MakePalette({QColor(208, 212, 221), QColor(250, 250, 252), Qt::black, QColor(221, 224, 231), QColor(112, 128, 144)}); break;
    case 218: palette = MakePalette({QColor(196, 232, 232), Qt::white, QColor(0, 64, 64), QColor(210, 240, 240), QColor(0, 139, 139)}); break;
    default: palette = MakePalette({QColor(239, 239, 242), Qt::white, Qt::black, QColor(230, 231, 232), QColor(51, 153, 255)}); break;
  }
  if (QStyle* created = QStyleFactory::create(style.isEmpty() ? QStringLiteral("Fusion") : style)) {
    if (standardPalette) palette = created->standardPalette();
    QApplication::setStyle(created);  // the application takes ownership
  }
  QApplication::setPalette(palette);
}
