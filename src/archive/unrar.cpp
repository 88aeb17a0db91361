#include "archive/unrar.h"

#include "archive/archive_reader.h"
#include "archive/header_pass.h"
#include "archive/staged_install.h"
#include "base/error.h"
#include "base/files.h"

#include <QFile>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>
#include <thread>

namespace zandrel::archive {

namespace {

constexpr std::int64_t kDropCacheFrom = 8 << 20;

void stopIfCancelled(const std::function<bool()>& cancelled) {
    if (cancelled && cancelled()) fail(ArchiveFailure::Cancelled, cancelledText());
}

// Writes through the file layer, its failures as our error type.
void writeAll(int fd, const void* data, std::size_t size, const QString& what) {
    try {
        files::writeAll(fd, data, size, std::string());
    } catch (const files::FileError& e) {
        failErrno(e.code(), what);
    }
}

class Progress {
public:
    Progress(const std::function<void(std::int16_t)>& handler,
             const std::function<void(std::int64_t, std::int64_t)>& bytesHandler,
             std::int64_t total)
        : handler_(handler), bytesHandler_(bytesHandler), total_(total) {}

    // Up to 90 while data is written: above 90 the caller may take the extraction as done.
    void written(std::int64_t bytes) {
        if (bytesHandler_) bytesHandler_(bytes, total_);
        report(total_ > 0 ? std::int16_t(std::min<std::int64_t>(90, bytes * 100 / total_)) : 0);
    }
    void done() { report(100); }

private:
    void report(std::int16_t percent) {
        if (percent <= last_) return;
        last_ = percent;
        if (handler_) handler_(percent);
    }

    const std::function<void(std::int16_t)>& handler_;
    const std::function<void(std::int64_t, std::int64_t)>& bytesHandler_;
    std::int64_t total_;
    std::int16_t last_ = -1;
};

// The files to be replaced keep their bytes until the end, but their cached pages are of no
// further use: dropping them now leaves the page cache to the new data, as removing the old
// file first would.
void dropCachedPages(int destFd, const Inspection& plan) {
    for (const PlannedEntry& p : plan.entries) {
        if (!p.replaces || p.size < kDropCacheFrom) continue;
        const int old =
            ::openat(destFd, p.path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (old < 0) continue;
        ::posix_fadvise(old, 0, 0, POSIX_FADV_DONTNEED);
        ::close(old);
    }
}

// The data pass: every file entry's data into its staged file, read in the archive's order
// and held to the header pass's plan (a name, kind or size that differs now means the archive
// changed under us).
void writeEntries(int archiveFd, const QString& archivePath, const QString& destination,
                  const Inspection& plan, StagedInstall& install, Progress& progress,
                  const std::function<bool()>& cancelled) {
    const QString changed =
        QStringLiteral("The archive \"%1\" changed while it was read.").arg(archivePath);
    ArchiveReader reader(archiveFd, archivePath);
    std::int64_t done = 0;
    std::size_t index = 0;
    EntryHeader h;
    while (reader.next(h)) {
        stopIfCancelled(cancelled);
        if (index >= plan.entries.size()) fail(ArchiveFailure::NotAnArchive, changed);
        const PlannedEntry& p = plan.entries[index];
        if (h.name != p.name || (h.kind == EntryHeader::Folder) != p.folder ||
            (!p.folder && h.size != p.size))
            fail(ArchiveFailure::NotAnArchive, changed);
        const std::size_t staged = index++;
        if (p.folder) continue;

        const QString what =
            QStringLiteral("Cannot write \"%1\" in \"%2\"").arg(text(p.path), destination);
        files::Fd out(install.createStaged(staged, what));
        std::int64_t written = 0;
        const void* block = nullptr;
        std::size_t size = 0;
        std::int64_t offset = 0;
        while (reader.readBlock(block, size, offset)) {
            // RAR data is contiguous; a gap or excess would be a damaged archive.
            if (offset != written || std::int64_t(size) > p.size - written)
                fail(ArchiveFailure::NotAnArchive,
                     QStringLiteral("The archive entry \"%1\" is damaged.").arg(text(p.path)));
            writeAll(out.get(), block, size, what);
            written += std::int64_t(size);
            done += std::int64_t(size);
            progress.written(done);
            stopIfCancelled(cancelled);
        }
        if (written != p.size)
            fail(ArchiveFailure::NotAnArchive,
                 QStringLiteral("The archive entry \"%1\" is incomplete.").arg(text(p.path)));
        if (::close(out.release()) != 0) failErrno(errno, what);
    }
    if (index != plan.entries.size()) fail(ArchiveFailure::NotAnArchive, changed);
}

}  // namespace

// Frees the files an extraction replaced, off the caller's thread.
class UnRar::Cleanup {
public:
    ~Cleanup() { wait(); }
    void start(std::unique_ptr<files::StagingFolder> staging) {
        wait();
        if (!staging) return;
        try {
            thread_ = std::thread([s = std::move(staging)]() mutable { s.reset(); });
        } catch (const std::system_error&) {
            // No thread to spare: staging was moved into the failed lambda and destroyed here.
        }
    }
    void wait() {
        if (thread_.joinable()) thread_.join();
    }

private:
    std::thread thread_;
};

UnRar::UnRar() : cleanup_(std::make_unique<Cleanup>()) {}
UnRar::~UnRar() = default;

void UnRar::WaitForCleanup() {
    cleanup_->wait();
}

void UnRar::ExtractArchive(const QString& archivePath, const QString& destinationFolder) {
    if (running_) fail(ArchiveFailure::Busy, QStringLiteral("An extraction is already running."));
    running_ = true;
    struct Reset {
        bool& flag;
        ~Reset() { flag = false; }
    } reset{running_};
    cleanup_->wait();

    QString destination = destinationFolder;
    while (destination.size() > 1 && destination.endsWith(QLatin1Char('/'))) destination.chop(1);

    std::int64_t archiveSize = 0;
    files::Fd archiveFd(openArchive(archivePath, &archiveSize));
    files::Fd destFd(
        ::open(QFile::encodeName(destination).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (destFd.get() < 0)
        failErrno(
            errno,
            QStringLiteral("The destination folder \"%1\" cannot be opened").arg(destination));

    // Header pass: every name checked and the total known before anything is written.
    const Inspection plan =
        inspectOpen(archiveFd.get(), archiveSize, archivePath, destFd.get(), destination,
                    {maxEntries_, maxTotalBytes_}, true, ExtractCancelled);
    if (!plan.problems.empty()) throw plan.problems[0];

    dropCachedPages(destFd.get(), plan);

    Progress progress(ExtractProgress, ExtractBytes, plan.totalBytes);
    std::unique_ptr<files::StagingFolder> staging;
    {
        StagedInstall install(destFd.get(), destination);
        progress.written(0);

        writeEntries(archiveFd.get(), archivePath, destination, plan, install, progress,
                     ExtractCancelled);
        if (BeforeReplacing) {
            for (const PlannedEntry& p : plan.entries) {
                if (!p.replaces || p.folder || p.path.find('/') != std::string::npos) continue;
                BeforeReplacing(text(p.path));
                stopIfCancelled(ExtractCancelled);
            }
        }
        // The last chance to stop: from here on the update is finished, even after a kill.
        stopIfCancelled(ExtractCancelled);
        install.commit(plan.entries);
        staging = install.release();
    }
    // The replaced files wait in the staging folder; they are freed once the caller has
    // heard of the success.
    struct Free {
        Cleanup& cleanup;
        std::unique_ptr<files::StagingFolder>& staging;
        ~Free() { cleanup.start(std::move(staging)); }
    } freeLater{*cleanup_, staging};
    progress.done();
}

}  // namespace zandrel::archive
