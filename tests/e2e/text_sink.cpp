// A Qt application with one text field, for the end-to-end tests of paste-back, the app toggles
// and the text expander: it writes what the field holds to a file after every change, so a test
// reads exactly what reached the application.
//
//   text_sink --out FILE [--title T] [--class INSTANCE,CLASS] [--multiline]
//
// The file is replaced whole (a temporary file renamed over it), so a reader never sees half a
// text. Prints "ready <window id>" once the window is shown, and stays until killed.

#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSaveFile>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

void save(const QString& path, const QString& text) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return;
    file.write(text.toUtf8());
    file.commit();
}

[[noreturn]] void usage() {
    std::fprintf(stderr, "usage: text_sink --out FILE [--title T] [--class INSTANCE,CLASS] [--multiline]\n");
    std::exit(2);
}

}  // namespace

int main(int argc, char** argv) {
    QString out;
    QString title = "Text Sink";
    std::string instance = "text-sink";
    std::string klass = "TextSink";
    bool multiline = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) usage();
            return argv[++i];
        };
        if (arg == "--out") {
            out = QString::fromStdString(value());
        } else if (arg == "--title") {
            title = QString::fromStdString(value());
        } else if (arg == "--class") {
            const std::string v = value();
            const auto comma = v.find(',');
            if (comma == std::string::npos) usage();
            instance = v.substr(0, comma);
            klass = v.substr(comma + 1);
        } else if (arg == "--multiline") {
            multiline = true;
        } else {
            usage();
        }
    }
    if (out.isEmpty()) usage();

    // Qt on X11 names the WM_CLASS instance after the program (argv[0]) and the class after the
    // application name.
    int qtArgc = 1;
    std::string program = instance;
    char* qtArgv[] = {program.data(), nullptr};
    QApplication application(qtArgc, qtArgv);
    QApplication::setApplicationName(QString::fromStdString(klass));

    QWidget* field = nullptr;
    if (multiline) {
        auto* edit = new QPlainTextEdit;
        QObject::connect(edit, &QPlainTextEdit::textChanged, [edit, out] { save(out, edit->toPlainText()); });
        field = edit;
    } else {
        auto* edit = new QLineEdit;
        QObject::connect(edit, &QLineEdit::textChanged, [out](const QString& text) { save(out, text); });
        field = edit;
    }
    save(out, QString());
    field->setWindowTitle(title);
    field->resize(420, multiline ? 240 : 40);
    field->show();
    QTimer::singleShot(0, [field] {
        field->activateWindow();
        std::printf("ready %llu\n", static_cast<unsigned long long>(field->winId()));
        std::fflush(stdout);
    });
    return QApplication::exec();
}
