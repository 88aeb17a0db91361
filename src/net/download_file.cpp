#include "net/download_file.h"

#include "base/error.h"
#include "base/platform.h"
#include "net/fetch_record.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryFile>

#include <cerrno>
#include <filesystem>
#include <optional>
#include <system_error>

namespace zandrel {
namespace {

const QString kSource = QStringLiteral("DownloadFile");
const QString kFailurePrompt =
    QStringLiteral("An error has occured in the file transfer or write.  Please try again later.");

// The text after the URL's last "/"; empty when the URL has none or ends in one.
QString localFileName(const QString& url) {
    const qsizetype slash = url.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? QString() : url.mid(slash + 1);
}

Error fileError(const QFileDevice& file) {
    return Error(static_cast<std::int32_t>(file.error()), file.errorString(), kSource);
}

// A hidden temporary file beside the destination that takes the destination's place only once
// the whole body is in it; dropped without a trace otherwise. It is made on the first byte (or at
// the end, for an empty body), so a reply that stores nothing leaves the folder alone. It is not
// synced to disk before the rename: like other download tools we leave flushing to the system,
// which keeps large downloads at full speed.
class PartFile {
public:
    explicit PartFile(const QString& path) : path_(path) {
        const QFileInfo dest(path);
        if (dest.isDir() || (dest.exists() && !dest.isWritable()))
            throw Error(EACCES, QStringLiteral("Cannot replace %1").arg(path), kSource);
    }

    void write(QByteArrayView chunk) {
        open();
        if (file_.write(chunk.data(), chunk.size()) != chunk.size()) throw fileError(file_);
    }

    // Puts the file in the destination's place, carrying what the server said about it.
    void commit(const FetchRecord& record) {
        open();
        const QFileInfo dest(path_);
        file_.setPermissions(dest.exists() ? dest.permissions() : kNewFilePermissions);
        if (!file_.flush()) throw fileError(file_);
        writeFetchRecord(file_.handle(), record);
        file_.close();
        if (file_.error() != QFileDevice::NoError) throw fileError(file_);
        std::error_code failed;
        std::filesystem::rename(file_.fileName().toStdU16String(), path_.toStdU16String(), failed);
        if (failed) throw Error(failed.value(), QString::fromStdString(failed.message()), kSource);
        file_.setAutoRemove(false);
    }

private:
    static constexpr QFileDevice::Permissions kNewFilePermissions =
        QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup |
        QFileDevice::ReadOther;

    void open() {
        if (file_.isOpen()) return;
        const QFileInfo dest(path_);
        file_.setFileTemplate(
            dest.dir().filePath(QLatin1Char('.') + dest.fileName() + QStringLiteral(".XXXXXX")));
        if (!file_.open()) throw fileError(file_);
    }

    QString path_;
    QTemporaryFile file_;
};

// Fetches url into path; when the file there came from the same url and the server says it has
// not changed since, the file stays as it is.
void fetchInto(Inet& inet, const QString& url, const QString& path) {
    PartFile file(path);
    const std::optional<FetchRecord> held = readFetchRecord(path, url);
    FetchConditions conditions;
    if (held) {
        conditions.etag = held->etag;
        conditions.lastModified = held->lastModified;
    }
    inet.OpenURL(
        url, [&file](QByteArrayView chunk) { file.write(chunk); }, conditions);
    const FetchInfo& got = inet.LastFetch();
    if (got.notModified) return;
    file.commit(FetchRecord{url, got.etag, got.lastModified, got.bodyBytes});
}

}  // namespace

bool DownloadFile(Inet& Inet1, const QString& url, const QString& folder, MessageBoxes& boxes) {
    if (Inet1.StillExecuting()) return false;
    try {
        const QString name = localFileName(url);
        if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
            throw Error(0, QStringLiteral("The address names no file: %1").arg(url), kSource);
        fetchInto(Inet1, url, folder + platform::kSep + name);
        return true;
    } catch (const std::exception&) {
        boxes.show(kFailurePrompt, MsgIcon::Information);
        return false;
    }
}

}  // namespace zandrel
