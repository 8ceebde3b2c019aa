#include "tools/PingOutputBox.h"

#include <QFont>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

void AppendPingOutput(QPlainTextEdit& box, const QString& text) {
    QTextDocument* document = box.document();
    // The undo history would keep every appended chunk, including the lines dropped below.
    if (document->isUndoRedoEnabled()) {
        document->setUndoRedoEnabled(false);
    }
    QTextCursor end(document);
    end.movePosition(QTextCursor::End);
    end.insertText(text);

    const int limit = kPingOutputKept + kPingOutputKept / 4;
    const int count = document->characterCount();
    if (count > limit) {
        const int cut = count - kPingOutputKept;
        int from = document->findBlock(cut).position();
        // A line longer than the limit is cut inside, or it would keep the box growing.
        if (count - from > limit) {
            from = cut;
        }
        QTextCursor top(document);
        top.setPosition(from, QTextCursor::KeepAnchor);
        top.removeSelectedText();
    }
    QScrollBar* bar = box.verticalScrollBar();
    bar->setValue(bar->maximum());
}

QFont ConsoleFont(const QFont& like) {
    QFont fixed(QStringLiteral("monospace"));
    fixed.setStyleHint(QFont::TypeWriter);
    fixed.setPointSizeF(like.pointSizeF());
    return fixed;
}
