// Saves a rectangle of an X display's screen (the root window) as a PNG,
// for the screenshot of the real window under Xvfb.
//   e2e_x11_grab OUT.png [X Y WIDTH HEIGHT]     (DISPLAY names the display)
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  if (argc != 2 && argc != 6) {
    std::fprintf(stderr, "usage: %s OUT.png [X Y WIDTH HEIGHT]\n", argv[0]);
    return 2;
  }
  qputenv("QT_QPA_PLATFORM", "xcb");
  QGuiApplication app(argc, argv);
  QScreen* screen = QGuiApplication::primaryScreen();
  if (!screen) {
    std::fprintf(stderr, "e2e_x11_grab: no screen\n");
    return 1;
  }
  int x = 0, y = 0, w = -1, h = -1;
  if (argc == 6) {
    x = std::atoi(argv[2]);
    y = std::atoi(argv[3]);
    w = std::atoi(argv[4]);
    h = std::atoi(argv[5]);
  }
  const QPixmap shot = screen->grabWindow(0, x, y, w, h);
  if (shot.isNull() || !shot.save(QString::fromLocal8Bit(argv[1]), "PNG")) {
    std::fprintf(stderr, "e2e_x11_grab: could not grab or save %s\n", argv[1]);
    return 1;
  }
  return 0;
}
