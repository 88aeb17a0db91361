#pragma once

#include <QString>

// Judgements on the settings file's values that only the checker makes: the program takes these
// values as they come, and a player meets the consequences.
namespace zandrel::check {

// A ppf value that an administrator clearly meant as "no patch": 0, rar, no, false or off, in any
// case. Any other value but "1" also selects the archive, but probably by mistake (01, 1.0, yes).
bool ppfValueClearlyRar(const QString& value);

// Why the value is not an e-mail address the mail program can use ("name@host.domain"), or
// an empty text when it is one.
QString mailAddressFault(const QString& value);

// Why the game will not find the server at this address: empty when it is host:port with a
// port of 1 to 65535. `missingPort` is set when the only fault is that no port is given.
QString gameAddressFault(const QString& value, bool* missingPort);

// True when the name ends in ".map" (any case): the files the map folder and backups hold.
bool hasMapExtension(const QString& name);

}  // namespace zandrel::check
