#pragma once

#include "report.h"

#include <QString>

#include <functional>

// The checker: does with a server address what the program does when a player types it into the
// start window, without a window and without the game, and reports every step.
namespace zandrel::check {

struct Request {
    QString address;  // as a player would type it
    QString mapFile;  // a copy of the player's map, to try the patch on; empty: not tried
    // Progress of long transfers and unpacking, one line at a time (the tool prints it on
    // standard error). May be empty.
    std::function<void(const QString& line)> progress;
    // An empty folder made for the check, which the caller removes afterwards. Empty: the check
    // makes its own under $TMPDIR and removes it before returning.
    QString workFolder;
    // The transfers' floor: slower than this many bytes a second over the window is a time-out.
    int minimumRate = 1024;
    int rateWindowMs = 30000;
};

// Everything is fetched and unpacked into the work folder; nothing else is written. Never throws
// for anything a server sends.
Report checkServer(const Request& request);

}  // namespace zandrel::check
