// Saves a PNG of KWin's screen through its ScreenShot2 D-Bus interface, for the KDE end-to-end test.
// KWin answers only a program its desktop entries name with X-KDE-DBUS-Restricted-Interfaces: run
// under `with-kwin.sh --trust kwin_screenshot`.
//
//   kwin_screenshot FILE.png
//
// Exits 1 when KWin refused or the image could not be read or written.

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusUnixFileDescriptor>
#include <QImage>
#include <QVariantMap>

#include <unistd.h>

#include <cstdio>
#include <vector>

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: kwin_screenshot FILE.png\n");
        return 2;
    }
    int fds[2];
    if (::pipe(fds) != 0) return 1;
    QDBusMessage message = QDBusMessage::createMethodCall(
        QStringLiteral("org.kde.KWin"), QStringLiteral("/org/kde/KWin/ScreenShot2"),
        QStringLiteral("org.kde.KWin.ScreenShot2"), QStringLiteral("CaptureActiveScreen"));
    message << QVariantMap{{QStringLiteral("include-cursor"), false}}
            << QVariant::fromValue(QDBusUnixFileDescriptor(fds[1]));
    const QDBusMessage reply = QDBusConnection::sessionBus().call(message, QDBus::Block, 5000);
    ::close(fds[1]);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
        std::fprintf(stderr, "kwin_screenshot: %s\n", qPrintable(reply.errorMessage()));
        return 1;
    }
    const auto results = qdbus_cast<QVariantMap>(reply.arguments().at(0));
    const int width = results.value(QStringLiteral("width")).toInt();
    const int height = results.value(QStringLiteral("height")).toInt();
    const int stride = results.value(QStringLiteral("stride")).toInt();
    const auto format = static_cast<QImage::Format>(results.value(QStringLiteral("format")).toInt());
    std::vector<uchar> bytes(static_cast<std::size_t>(stride) * static_cast<std::size_t>(height));
    std::size_t got = 0;
    while (got < bytes.size()) {
        const ssize_t n = ::read(fds[0], bytes.data() + got, bytes.size() - got);
        if (n <= 0) break;
        got += static_cast<std::size_t>(n);
    }
    ::close(fds[0]);
    if (width <= 0 || got != bytes.size()) {
        std::fprintf(stderr, "kwin_screenshot: read %zu of %zu bytes\n", got, bytes.size());
        return 1;
    }
    const QImage image(bytes.data(), width, height, stride, format);
    return image.save(QString::fromLocal8Bit(argv[1]), "PNG") ? 0 : 1;
}
