#pragma once
// What a person reads in a label or a tool tip: the text as Qt shows it, rich text rendered, so
// that a test can tell a name shown as it is from one read as markup.

#include <QLabel>
#include <QString>
#include <QTextDocumentFragment>

namespace lv::test {

inline QString shownAs(const QString& text, Qt::TextFormat format)
{
    const bool rich = format == Qt::RichText || (format == Qt::AutoText && Qt::mightBeRichText(text));
    return rich ? QTextDocumentFragment::fromHtml(text).toPlainText() : text;
}

inline QString shownText(const QLabel& label) { return shownAs(label.text(), label.textFormat()); }

// Tool tips decide as an automatic label does.
inline QString shownToolTip(const QWidget& widget) { return shownAs(widget.toolTip(), Qt::AutoText); }

} // namespace lv::test
