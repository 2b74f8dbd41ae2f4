// bench_bare_window: the benchmarks' anchor window (bare_window.h) as a program of its own, so
// that it is measured from outside like the program it is compared with. Runs until ended.
#include <QApplication>

#include "bench/bare_window.h"

int main(int argc, char* argv[]) {
  QApplication application(argc, argv);
  tkb::bench::BareWindow window;
  window.show();
  return application.exec();
}
