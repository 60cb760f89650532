// screen_grab OUT.png [X Y WIDTH HEIGHT]: saves what the X display shows
// (the whole screen, or the given part) as a PNG, for the project's
// screenshots under a virtual display.
#include <cstdio>
#include <cstdlib>

#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>

int main(int argc, char** argv) {
  if (argc != 2 && argc != 6) {
    std::fprintf(stderr, "usage: screen_grab OUT.png [X Y WIDTH HEIGHT]\n");
    return 2;
  }
  int qt_argc = 1;
  QGuiApplication application(qt_argc, argv);
  QScreen* screen = QGuiApplication::primaryScreen();
  if (screen == nullptr) {
    std::fprintf(stderr, "screen_grab: no screen\n");
    return 1;
  }
  int x = 0, y = 0, width = -1, height = -1;
  if (argc == 6) {
    x = std::atoi(argv[2]);
    y = std::atoi(argv[3]);
    width = std::atoi(argv[4]);
    height = std::atoi(argv[5]);
  }
  const QPixmap shot = screen->grabWindow(0, x, y, width, height);
  if (shot.isNull() || !shot.save(QString::fromLocal8Bit(argv[1]), "PNG")) {
    std::fprintf(stderr, "screen_grab: could not save %s\n", argv[1]);
    return 1;
  }
  return 0;
}
