#include "frame_fixture.h"

#include "resources/resources.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QThread>

namespace zandrel::test {

bool waitFor(const std::function<bool()>& done, int ms) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > ms) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(10);
    }
    return true;
}

FrameFixture::FrameFixture() {
    initResources();
    QDir(dir.path()).mkpath(QStringLiteral("maps"));
    QDir(dir.path()).mkpath(QStringLiteral("backup"));
    registry =
        std::make_unique<frame::Registry>(frame::Services{&boxes, &mail, &clock, dir.path()});
}

FrameFixture::~FrameFixture() {
    registry.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void FrameFixture::newRegistry() {
    registry.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    registry =
        std::make_unique<frame::Registry>(frame::Services{&boxes, &mail, &clock, dir.path()});
}

void FrameFixture::writeFile(const QString& relative, const QByteArray& bytes) const {
    QFile f(path(relative));
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) qFatal("cannot write test file");
    f.write(bytes);
}

QByteArray FrameFixture::readFile(const QString& relative) const {
    QFile f(path(relative));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QString FrameFixture::makeStandIn(const QString& relative) const {
    const QString exe = path(relative);
    QDir().mkpath(QFileInfo(exe).absolutePath());
    const QString record = exe + QStringLiteral(".args");
    QFile f(exe);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) qFatal("cannot write stand-in");
    // Writes all arguments, one per line, in one go so a reader never sees half a record.
    f.write(
        "#!/bin/sh\n"
        "out=\"$0.args\"\n"
        "tmp=\"$out.$$\"\n"
        ": > \"$tmp\"\n"
        "for a in \"$@\"; do printf '%s\\n' \"$a\" >> \"$tmp\"; done\n"
        "printf '%s\\n' '--end--' >> \"$tmp\"\n"
        "cat \"$tmp\" >> \"$out\"; rm -f \"$tmp\"\n");
    f.close();
    f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return record;
}

QStringList FrameFixture::standInArgs(const QString& relative, int expectedLines) const {
    const QString record = path(relative) + QStringLiteral(".args");
    QElapsedTimer t;
    t.start();
    QStringList lines;
    while (t.elapsed() < 10000) {
        QFile f(record);
        if (f.open(QIODevice::ReadOnly)) {
            lines = QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
            if (lines.count(QStringLiteral("--end--")) >= expectedLines) break;
        }
        QThread::msleep(20);
    }
    return lines;
}

}  // namespace zandrel::test
