// bench_bare_window: the benchmarks' anchor window (bare_window.h) as a program of its own, so
// that it is measured from outside like the program it is compared with. Runs until ended.
// Usage: bench_bare_window [width height bars frameMs [lines]] (default 1300 640 6 50, bars)
#include <QApplication>

#include <cstdlib>

#include "bench/bare_window.h"

int main(int argc, char* argv[]) {
  QApplication application(argc, argv);
  tkb::bench::BareWindowShape shape;
  if (argc == 5 || argc == 6) {
    shape = {std::atoi(argv[1]), std::atoi(argv[2]), std::atoi(argv[3]), std::atoi(argv[4]),
             argc == 6 ? std::atoi(argv[5]) : 0};
    if (shape.width < 1 || shape.height < 1 || shape.bars < 1 || shape.frameMs < 1 || shape.lines < 0) return 2;
  }
  tkb::bench::BareWindow window(shape);
  window.show();
  return application.exec();
}
