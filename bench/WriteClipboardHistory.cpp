// Writes the largest clipboard history (LargestClipboardHistory.h) where the desktop program reads
// it, for bench/desktop_bench.sh to start the program on:
//   write_clipboard_history DATA_DIR
// DATA_DIR/clipboard-history.json, and a 1280 × 800 PNG for each image entry in DATA_DIR/images.

#include "LargestClipboardHistory.h"

#include <QBuffer>
#include <QImage>
#include <QPainter>

#include <chrono>
#include <cstdio>

namespace {

// A screenshot-sized picture with some detail, so the PNG is not trivially small.
std::string screenshotPng() {
    QImage image(1280, 800, QImage::Format_RGB32);
    QPainter p(&image);
    QLinearGradient gradient(0, 0, 1280, 800);
    gradient.setColorAt(0, QColor(0x1e, 0x3a, 0x5f));
    gradient.setColorAt(1, QColor(0xe8, 0xa8, 0x38));
    p.fillRect(image.rect(), gradient);
    // Lines of "text": bars of varying length, as a captured window would show.
    for (int y = 20; y < 800; y += 24)
        p.fillRect(20, y, 300 + (y * 37) % 900, 12, QColor(255, 255, 255, 60 + y % 160));
    p.end();
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes.toStdString();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: write_clipboard_history DATA_DIR\n");
        return 2;
    }
    const std::string png = screenshotPng();
    const auto written = quenlit::bench::writeLargestHistory(argv[1], png, std::chrono::system_clock::now());
    if (!written) {
        std::fprintf(stderr, "write_clipboard_history: could not write the history into %s\n", argv[1]);
        return 1;
    }
    std::printf("%zu entries (%zu images of %zu bytes), history file %.1f MB\n", written->entries,
                written->images, png.size(), static_cast<double>(written->fileBytes) / 1e6);
    return 0;
}
