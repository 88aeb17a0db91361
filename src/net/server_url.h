#pragma once

#include <QString>

namespace zandrel::net {

// The address of one of a game server's files, from the address the player typed: an address
// that already names its scheme ("http://" or "https://") is used as it stands, anything else
// is reached over plain http. The file follows after a "/":
//   serverFileUrl("games.example.org:8080", "connect.ini") ==
//   "http://games.example.org:8080/connect.ini" serverFileUrl("https://host/halo", "zandrel.rar")
//   == "https://host/halo/zandrel.rar"
QString serverFileUrl(const QString& typed, const QString& file);

}  // namespace zandrel::net
