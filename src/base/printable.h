#pragma once

#include <QString>

namespace zandrel {

enum class LineBreaks { Escape, Keep };

// Text from a server or a tool as a message box or the checker shows it: every hidden character
// (isHiddenCharacter) escaped, \xNN below U+0100 and \uNNNN or \U00NNNNNN above, so what is
// shown is what was sent. With LineBreaks::Keep, "\n", "\r\n" and "\t" stay as they are (a
// message's own layout); a lone surrogate shows as \uNNNN too.
QString printable(const QString& text, LineBreaks lineBreaks = LineBreaks::Escape);

}  // namespace zandrel
