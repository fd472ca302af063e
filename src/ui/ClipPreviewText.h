#pragma once
// One widget of the clipboard panel; the panel (ClipboardPanelView) is its only user.

#include "ui/ClipboardDrawing.h"
#include "ui/PanelChrome.h"
#include "ui/Style.h"
#include "ui/Symbols.h"

#include <QAbstractScrollArea>
#include <QCoreApplication>
#include <QFocusEvent>
#include <QHBoxLayout>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>

namespace quenlit::ui::clip {

// ---- The preview of the selected entry.

// The preview's text. The editor lays out a paragraph whole, and a line of 100,000 characters
// would take several frames: long lines are handed to it in pieces that end at a blank where one
// is near, each piece a paragraph of its own, so only the pieces in view are laid out. Copying
// joins the pieces again, so what is copied is the entry's text.
class PreviewText final : public QPlainTextEdit {
  public:
    using QPlainTextEdit::QPlainTextEdit;

    void setEntryText(const QString& text) {
        constexpr int kPiece = 1000;
        constexpr int kBlankWindow = 120;
        continuations_.clear();
        QString shown;
        shown.reserve(text.size() + text.size() / kPiece + 1);
        const QStringView all(text);
        int block = 0;
        for (qsizetype start = 0; start <= all.size();) {
            qsizetype end = all.indexOf(QLatin1Char('\n'), start);
            if (end < 0) end = all.size();
            // One line of the entry, in pieces when long; a piece ends after the last blank of
            // its tail, else at its length (never inside a pair of surrogates).
            qsizetype from = start;
            while (end - from > kPiece) {
                qsizetype cut = from + kPiece;
                for (qsizetype j = cut - 1; j > cut - kBlankWindow; --j) {
                    if (all[j].isSpace()) {
                        cut = j + 1;
                        break;
                    }
                }
                if (all[cut].isLowSurrogate()) ++cut;
                shown += all.mid(from, cut - from);
                shown += QLatin1Char('\n');
                continuations_.insert(++block);
                from = cut;
            }
            shown += all.mid(from, end - from);
            if (end == all.size()) break;
            shown += QLatin1Char('\n');
            ++block;
            start = end + 1;
        }
        setPlainText(shown);
    }

    QString entryText(int from, int to) const {
        QString out;
        for (QTextBlock b = document()->findBlock(from); b.isValid() && b.position() <= to; b = b.next()) {
            if (b.position() > from && !continuations_.count(b.blockNumber())) out += QLatin1Char('\n');
            const int start = std::max(from, b.position()) - b.position();
            const int end = std::min(to, b.position() + b.length() - 1) - b.position();
            if (end > start) out += b.text().mid(start, end - start);
        }
        return out;
    }

  protected:
    QMimeData* createMimeDataFromSelection() const override {
        const QTextCursor cursor = textCursor();
        auto* data = new QMimeData;
        data->setText(entryText(cursor.selectionStart(), cursor.selectionEnd()));
        return data;
    }

  private:
    std::unordered_set<int> continuations_;
};

}  // namespace quenlit::ui::clip
