#pragma once

#include <QString>

namespace zandrel {

enum class MsgIcon { None, Information, Critical };

// Modal message boxes with one "OK" button. The routine that shows one waits until it is
// closed; its result is never used. An empty title means the application title.
// Widget-free code (the fetch routine, the INI reader) reaches boxes only through this.
class MessageBoxes {
public:
    virtual ~MessageBoxes() = default;
    virtual void show(const QString& prompt, MsgIcon icon = MsgIcon::None,
                      const QString& title = QString()) = 0;
};

inline const QString kAppTitle = QStringLiteral("Zandrel");

}  // namespace zandrel
