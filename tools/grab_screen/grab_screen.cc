// quoteloom-grab-screen OUT.png: writes the current picture of the primary screen.
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: quoteloom-grab-screen OUT.png\n");
    return 2;
  }
  QGuiApplication application(argc, argv);
  QScreen* screen = QGuiApplication::primaryScreen();
  if (screen == nullptr) {
    std::fprintf(stderr, "quoteloom-grab-screen: no screen\n");
    return 1;
  }
  const QPixmap picture = screen->grabWindow(0);
  if (picture.isNull() || !picture.save(QString::fromLocal8Bit(argv[1]), "PNG")) {
    std::fprintf(stderr, "quoteloom-grab-screen: could not grab or save the screen\n");
    return 1;
  }
  return 0;
}
