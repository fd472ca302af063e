#pragma once
// Icon files as the icon theme lookup finds them, and icons drawn from them at the size asked
// for.

#include <QByteArray>
#include <QIcon>
#include <QString>

#include <vector>

namespace quenlit::ui {

// A folder of a theme, as its index.theme describes it: the icon size it is meant for and, for
// scalable and threshold folders, the sizes it may be drawn at.
struct IconDir {
    enum class Type { fixed, scalable, threshold };
    Type type = Type::threshold;
    int size = 0;
    int scale = 1;
    int minSize = 0;
    int maxSize = 0;
    int threshold = 2;
};

// One file an icon can be drawn from.
struct IconFile {
    QString path;
    QByteArray format;  // from the file's name ("png", "xpm", "svg", ...); empty: guessed from the content
    IconDir dir;
    bool anySize = false;  // a file outside any theme folder, which suits every size
};

bool isSvg(const QByteArray& format);
// The image format a file's name gives; empty for a name that gives none Qt knows, whose format
// is then guessed from the content.
QByteArray formatOf(const QString& path);
// Whether Qt can read SVG here (the SVG image plugin is a separate package). Asked only when an
// SVG is all there is, since asking loads the plugin.
bool canReadSvg();
// The file to draw at `size` (logical pixels) and `scale`; null when there is none.
const IconFile* chooseFile(const std::vector<IconFile>& files, int size, int scale);
// An icon drawn from these files, read when a size is asked for; null without a file Qt can read.
QIcon iconOf(const QString& name, std::vector<IconFile> files);

}  // namespace quenlit::ui
