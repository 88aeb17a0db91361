#pragma once

#include <QString>

namespace zandrel::net {

// The address of one of a game server's files, from the address the player typed: an address
// that already names its scheme ("http://" or "https://") is used as it stands, anything else
// is reached over plain http. The file follows after a "/". What a browser would percent-encode
// in the path (a space, a control, a quote, non-ASCII...) is encoded as it does:
//   serverFileUrl("games.example.org:8080", "connect.ini")
//       == "http://games.example.org:8080/connect.ini"
//   serverFileUrl("https://host/halo maps", "zandrel.rar") ==
//   "https://host/halo%20maps/zandrel.rar"
QString serverFileUrl(const QString& typed, const QString& file);

}  // namespace zandrel::net
