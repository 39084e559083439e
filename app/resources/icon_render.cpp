// Build-time tool: renders the SVG sources of the toolbar icons to the PNG
// (or ICO) files the program loads from ":/images/".
// Usage: tesmo-icon-render <size> <input.svg> <output.png|output.ico>
#include <QGuiApplication>
#include <QImage>
#include <QImageWriter>
#include <QPainter>
#include <QSvgRenderer>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s <size> <input.svg> <output>\n", argv[0]);
        return 2;
    }
    QGuiApplication app(argc, argv);
    const int size = QString::fromLocal8Bit(argv[1]).toInt();
    const QString input = QString::fromLocal8Bit(argv[2]);
    const QString output = QString::fromLocal8Bit(argv[3]);

    QSvgRenderer renderer(input);
    if (!renderer.isValid() || size <= 0) {
        std::fprintf(stderr, "cannot render %s\n", argv[2]);
        return 1;
    }
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.render(&painter);
    painter.end();

    QImageWriter writer(output);
    if (!writer.write(image)) {
        std::fprintf(stderr, "cannot write %s: %s\n", argv[3],
                     writer.errorString().toLocal8Bit().constData());
        return 1;
    }
    return 0;
}
