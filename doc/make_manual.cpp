// make_manual: turns one manual source (HTML) into a PDF page set. Run by the build for
// each language: make_manual SOURCE.html OUTPUT.pdf
#include <QFile>
#include <QGuiApplication>
#include <QPageSize>
#include <QPdfWriter>
#include <QTextDocument>
#include <cstdio>

int main(int argc, char** argv) {
  QGuiApplication app(argc, argv);
  if (argc != 3) {
    std::fprintf(stderr, "usage: make_manual SOURCE.html OUTPUT.pdf\n");
    return 2;
  }
  QFile source(QString::fromLocal8Bit(argv[1]));
  if (!source.open(QIODevice::ReadOnly)) {
    std::fprintf(stderr, "make_manual: cannot read %s\n", argv[1]);
    return 1;
  }
  QTextDocument document;
  document.setDefaultFont(QFont("Arial", 11));
  document.setHtml(QString::fromUtf8(source.readAll()));

  QPdfWriter pdf(QString::fromLocal8Bit(argv[2]));
  pdf.setPageSize(QPageSize(QPageSize::A4));
  pdf.setResolution(300);
  pdf.setTitle(document.metaInformation(QTextDocument::DocumentTitle));
  pdf.setCreator("TKB-Tunedeck");
  document.setPageSize(QSizeF(pdf.width(), pdf.height()));
  document.print(&pdf);
  return 0;
}
