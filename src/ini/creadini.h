#pragma once

#include "base/messages.h"

#include <QString>

#include <optional>

namespace zandrel::ini {

// Reads single values from an INI file. Every failure, a missing or empty value included, is
// reported in a message box of its own and gives no value: the caller never sees an error.
// Nothing is cached; each read goes to the file anew. Values are UTF-8, else Windows-1252.
class CReadINI {
public:
    explicit CReadINI(MessageBoxes& boxes);

    void setSection(const QString& section);
    void setKey(const QString& key);
    void setININame(const QString& iniName);

    // The value (at most 254 bytes of it, spaces trimmed), or no value after a failure.
    std::optional<QString> ReadINISettings();

    // True when the last value read was not UTF-8 and so was read as Windows-1252.
    bool lastValueWasWindows1252() const { return lastWasWindows1252_; }

private:
    MessageBoxes& boxes_;
    QString section_;
    QString key_;
    QString iniName_;
    bool lastWasWindows1252_ = false;
};

}  // namespace zandrel::ini
