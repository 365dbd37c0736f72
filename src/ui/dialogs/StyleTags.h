#pragma once
// The small mark-up of the about window's credits: tags in the text of a field turn into styles.
//
//   <b> </b>                bold from here on / not bold from here on
//   <i> </i>                italic / not italic
//   <font size="n"> </font> text n pixels high / back to the size before the opening tag
//                           (n missing or 0: the field's own size)
//
// Each tag styles the text from its place to the end, and a later tag overrides it, so a pair
// styles what it encloses and pairs nest. Tags of other names are only removed. A "<" that no
// ">" follows ends the walk and stays in the text, with all after it; a ">" without a "<" stays.
// Afterwards the field shows its first line with nothing selected.

class QTextEdit;

namespace lv::StyleTags {

void apply(QTextEdit& field);

} // namespace lv::StyleTags
