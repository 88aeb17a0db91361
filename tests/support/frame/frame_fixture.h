#pragma once

// What every window test needs: a fresh registry over a temporary application folder, message
// boxes that record and answer themselves, a recorded mail hand-off and a clock the test
// advances.
#include "base/messages.h"
#include "base/platform.h"
#include "boxes/recording_boxes.h"
#include "clock/manual_clock.h"
#include "frame/registry.h"

#include <QDir>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>
#include <memory>
#include <vector>

namespace zandrel::test {

// Runs the event loop until the condition holds or ms milliseconds have passed; says which.
bool waitFor(const std::function<bool()>& done, int ms = 10000);

class RecordingMail : public platform::MailClient {
public:
    void compose(const QUrl& mailto) override { links.push_back(mailto); }
    std::vector<QUrl> links;
};

// A temporary application folder (with maps/ and backup/) and a registry over it.
class FrameFixture {
public:
    FrameFixture();
    ~FrameFixture();

    frame::Registry& reg() { return *registry; }
    // A fresh registry over the same application folder, as a new run of the program finds it.
    void newRegistry();
    QString appFolder() const { return dir.path(); }
    QString path(const QString& relative) const { return dir.path() + QLatin1Char('/') + relative; }
    void writeFile(const QString& relative, const QByteArray& bytes) const;
    QByteArray readFile(const QString& relative) const;

    // A stand-in executable (a shell script) that appends its arguments, one per line, to
    // <name>.args beside it. Returns the path of the record.
    QString makeStandIn(const QString& relative) const;
    // The arguments the stand-in recorded, waiting up to a few seconds for the process.
    QStringList standInArgs(const QString& relative, int expectedLines = 1) const;

    QTemporaryDir dir;
    RecordingBoxes boxes;
    RecordingMail mail;
    ManualClock clock;
    std::unique_ptr<frame::Registry> registry;
};

}  // namespace zandrel::test
