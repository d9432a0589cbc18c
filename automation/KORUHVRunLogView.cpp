#include "KORUHVRunLogView.h"

#include <QScrollBar>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextDocumentFragment>

namespace {

const QString lineBreak = QStringLiteral("<br>");

// The executor's error lines: its mark, then " - " and what failed.
bool isErrorLine(const QString &text)
{
    return text.contains(QLatin1String("ERROR - "));
}

} // namespace

KORUHVRunLogView::KORUHVRunLogView(QTextBrowser *b) : QObject(b), browser(b)
{
    // A log only grows: an undo history would keep every insertion.
    if (browser)
        browser->document()->setUndoRedoEnabled(false);
    flushTimer.setSingleShot(true);
    flushTimer.setInterval(FlushIntervalMs);
    connect(&flushTimer, &QTimer::timeout, this, &KORUHVRunLogView::flush);
}

QString KORUHVRunLogView::droppedNote(qint64 lines, qint64 errors)
{
    return QStringLiteral("[%1 earlier lines of this run are no longer shown: the view keeps the last %2 "
                          "lines; %3 of the lines not shown reported an ERROR]")
        .arg(lines)
        .arg(MaxLines)
        .arg(errors);
}

void KORUHVRunLogView::append(const QString &html)
{
    if (!browser || html.isEmpty())
        return;
    pending += html;
    if (!flushTimer.isActive())
        flushTimer.start();
}

void KORUHVRunLogView::flush()
{
    flushTimer.stop();
    if (!browser || pending.isEmpty())
        return;
    const QString html = pending;
    pending.clear();
    insertLines(html);
    trim();
    // The newest line stays in view.
    QTextCursor end(browser->document());
    end.movePosition(QTextCursor::End);
    browser->setTextCursor(end);
    browser->ensureCursorVisible();
}

void KORUHVRunLogView::clear()
{
    flushTimer.stop();
    pending.clear();
    dropped = 0;
    droppedErrors = 0;
    noteShown = false;
    if (browser)
        browser->clear();
}

void KORUHVRunLogView::insertLines(const QString &html)
{
    QTextDocument *doc = browser->document();
    QTextCursor cursor(doc);
    cursor.movePosition(QTextCursor::End);
    cursor.beginEditBlock();
    const QStringList pieces = html.split(lineBreak);
    for (int i = 0; i < pieces.size(); ++i) {
        if (i > 0) // a line ends: the next starts a plain block of its own
            cursor.insertBlock(QTextBlockFormat(), QTextCharFormat());
        const QString &piece = pieces[i];
        if (piece.isEmpty())
            continue;
        if (piece.startsWith(QLatin1String("<p"))) {
            // A paragraph of its own (an error line): keep its look, which
            // inserting into the open block would not.
            QTextDocument line;
            line.setHtml(piece);
            cursor.insertFragment(QTextDocumentFragment(&line));
            cursor.setBlockFormat(line.begin().blockFormat());
        } else {
            cursor.insertHtml(piece);
        }
    }
    cursor.endEditBlock();
}

void KORUHVRunLogView::trim()
{
    QTextDocument *doc = browser->document();
    const int first = noteShown ? 1 : 0;
    const int lines = doc->blockCount() - first;
    if (lines <= MaxLines + MaxLines / 10)
        return;
    const int remove = lines - MaxLines;
    QTextBlock b = doc->findBlockByNumber(first);
    for (int i = 0; i < remove && b.isValid(); ++i, b = b.next()) {
        ++dropped;
        if (isErrorLine(b.text()))
            ++droppedErrors;
    }
    QTextCursor cursor(doc);
    cursor.beginEditBlock();
    cursor.setPosition(doc->findBlockByNumber(first).position());
    cursor.setPosition(b.isValid() ? b.position() : doc->characterCount() - 1, QTextCursor::KeepAnchor);
    cursor.removeSelectedText();
    // The first line says what is gone.
    QTextCharFormat noteFormat;
    noteFormat.setFontItalic(true);
    noteFormat.setForeground(QColor(0x60, 0x60, 0x60));
    cursor.setPosition(0);
    if (noteShown) {
        cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
        cursor.removeSelectedText();
    } else {
        // The oldest line kept moves on with its own look.
        const QTextBlock head = doc->begin();
        cursor.insertBlock(head.blockFormat(), head.charFormat());
        cursor.setPosition(0);
        cursor.setBlockFormat(QTextBlockFormat());
    }
    cursor.insertText(droppedNote(dropped, droppedErrors), noteFormat);
    cursor.endEditBlock();
    noteShown = true;
}
