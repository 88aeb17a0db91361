#include "archive/unrar.h"

#include "archive/archive_reader.h"
#include "archive/header_pass.h"
#include "archive/staged_install.h"
#include "base/error.h"

#include <QFile>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <thread>

namespace zandrel {

static_assert(UnRar::kErrorArchive == archive::kErrorArchive &&
              UnRar::kErrorRefused == archive::kErrorRefused &&
              UnRar::kErrorLimit == archive::kErrorLimit &&
              UnRar::kErrorBusy == archive::kErrorBusy);

using archive::fail;
using archive::failErrno;
using archive::text;

namespace {

class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    int get() const { return fd_; }
    // Closes now and reports the result: a delayed write error can surface here.
    int close() {
        const int rc = ::close(fd_);
        fd_ = -1;
        return rc;
    }

private:
    int fd_;
};

void writeAll(int fd, const void* data, std::size_t size, const QString& what) {
    auto p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, p, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            failErrno(errno, what);
        }
        p += n;
        size -= std::size_t(n);
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

}  // namespace

// Frees the files an extraction replaced, off the caller's thread.
class UnRar::Cleanup {
public:
    ~Cleanup() { wait(); }
    void start(int destFd, std::string staging) {
        wait();
        const int fd = ::dup(destFd);
        if (fd < 0) {
            archive::removeStagingFolder(destFd, staging);
            return;
        }
        thread_ = std::thread([fd, staging = std::move(staging)] {
            archive::removeStagingFolder(fd, staging);
            ::close(fd);
        });
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
    if (running_) fail(kErrorBusy, QStringLiteral("An extraction is already running."));
    running_ = true;
    struct Reset {
        bool& flag;
        ~Reset() { flag = false; }
    } reset{running_};
    cleanup_->wait();

    QString destination = destinationFolder;
    while (destination.size() > 1 && destination.endsWith(QLatin1Char('/'))) destination.chop(1);

    std::int64_t archiveSize = 0;
    Fd archiveFd(archive::openArchive(archivePath, &archiveSize));
    Fd destFd(
        ::open(QFile::encodeName(destination).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (destFd.get() < 0)
        failErrno(
            errno,
            QStringLiteral("The destination folder \"%1\" cannot be opened").arg(destination));

    // Header pass: every name checked and the total known before anything is written.
    const archive::Inspection plan =
        archive::inspectOpen(archiveFd.get(), archiveSize, archivePath, destFd.get(), destination,
                             {maxEntries_, maxTotalBytes_}, true);
    if (!plan.problems.empty()) fail(plan.problems[0].number, plan.problems[0].text);

    Progress progress(ExtractProgress, ExtractBytes, plan.totalBytes);
    std::string staging;
    {
        archive::StagedInstall install(destFd.get(), destination);
        progress.written(0);

        // Data pass, into the staging folder.
        archive::ArchiveReader reader(archiveFd.get(), archivePath);
        std::int64_t done = 0;
        std::size_t index = 0;
        archive::EntryHeader h;
        while (reader.next(h)) {
            if (index >= plan.entries.size() || h.name != plan.entries[index].name ||
                (h.kind == archive::EntryHeader::Folder) != plan.entries[index].folder ||
                (!plan.entries[index].folder && h.size != plan.entries[index].size))
                fail(kErrorArchive, QStringLiteral("The archive \"%1\" changed while it was read.")
                                        .arg(archivePath));
            const archive::PlannedEntry& p = plan.entries[index];
            const std::size_t staged = index++;
            if (p.folder) continue;

            const QString what =
                QStringLiteral("Cannot write \"%1\" in \"%2\"").arg(text(p.path), destination);
            Fd out(install.createStaged(staged, what));
            std::int64_t written = 0;
            const void* block = nullptr;
            std::size_t size = 0;
            std::int64_t offset = 0;
            while (reader.readBlock(block, size, offset)) {
                // RAR data is contiguous; a gap or excess would be a damaged archive.
                if (offset != written || std::int64_t(size) > p.size - written)
                    fail(kErrorArchive,
                         QStringLiteral("The archive entry \"%1\" is damaged.").arg(text(p.path)));
                writeAll(out.get(), block, size, what);
                written += std::int64_t(size);
                done += std::int64_t(size);
                progress.written(done);
            }
            if (written != p.size)
                fail(kErrorArchive,
                     QStringLiteral("The archive entry \"%1\" is incomplete.").arg(text(p.path)));
            if (out.close() != 0) failErrno(errno, what);
        }
        if (index != plan.entries.size())
            fail(kErrorArchive,
                 QStringLiteral("The archive \"%1\" changed while it was read.").arg(archivePath));

        install.commit(plan.entries);
        staging = install.release();
    }
    // The replaced files wait in the staging folder; they are freed once the caller has
    // heard of the success.
    struct Free {
        Cleanup& cleanup;
        int destFd;
        const std::string& staging;
        ~Free() { cleanup.start(destFd, staging); }
    } freeLater{*cleanup_, destFd.get(), staging};
    progress.done();
}

}  // namespace zandrel
