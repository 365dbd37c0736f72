#include "ui/dialogs/StyleTags.h"

#include <QFontInfo>
#include <QScrollBar>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>

namespace lv::StyleTags {

namespace {

// The number at the start of the text between the first two double quotes of `tag`; 0 when none.
int quotedNumber(const QString& tag)
{
    const qsizetype open = tag.indexOf(QLatin1Char('"'));
    if (open < 0) return 0;
    const qsizetype close = tag.indexOf(QLatin1Char('"'), open + 1);
    const QString value = tag.mid(open + 1, close < 0 ? -1 : close - open - 1);
    qsizetype digits = 0;
    while (digits < value.size() && digits < 6 && value[digits].isDigit() && value[digits].unicode() < 128) ++digits;
    return digits == 0 ? 0 : value.left(digits).toInt();
}

} // namespace

void apply(QTextEdit& field)
{
    QTextDocument& doc = *field.document();
    const int ownSize = QFontInfo(field.font()).pixelSize();
    int savedSize = 0;
    for (;;) {
        const QString text = doc.toPlainText();
        const qsizetype open = text.indexOf(QLatin1Char('<'));
        if (open < 0) break;
        const qsizetype close = text.indexOf(QLatin1Char('>'), open);
        if (close < 0) break;
        const QString tag = text.mid(open + 1, close - open - 1);
        const QString name = tag.section(QLatin1Char(' '), 0, 0);

        QTextCursor cursor(&doc);
        cursor.setPosition(int(open));
        cursor.setPosition(int(close + 1), QTextCursor::KeepAnchor);
        cursor.removeSelectedText();
        cursor.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);

        QTextCharFormat format;
        if (name == QLatin1String("b")) {
            format.setFontWeight(QFont::Bold);
        } else if (name == QLatin1String("/b")) {
            format.setFontWeight(QFont::Normal);
        } else if (name == QLatin1String("i")) {
            format.setFontItalic(true);
        } else if (name == QLatin1String("/i")) {
            format.setFontItalic(false);
        } else if (name == QLatin1String("font") || name == QLatin1String("/font")) {
            int size = savedSize;
            if (name == QLatin1String("font")) {
                // The size the text has where the tag stood, to come back to at "</font>".
                QTextCursor here(&doc);
                here.setPosition(int(open) + (int(open) < doc.characterCount() - 1 ? 1 : 0));
                savedSize = here.charFormat().intProperty(QTextFormat::FontPixelSize);
                size = quotedNumber(tag);
            }
            format.setProperty(QTextFormat::FontPixelSize, size > 0 ? size : ownSize);
        } else {
            continue;  // removed, no style
        }
        cursor.mergeCharFormat(format);
    }
    QTextCursor start(&doc);
    field.setTextCursor(start);
    field.verticalScrollBar()->setValue(0);
}

} // namespace lv::StyleTags
