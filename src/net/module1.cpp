#include "net/module1.h"

#include "app/error.h"
#include "app/platform.h"

#include <QSaveFile>

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

Error fileError(const QSaveFile& file) {
    return Error(static_cast<std::int32_t>(file.error()), file.errorString(), kSource);
}

// The body goes to a temporary file beside the destination, which replaces the destination
// only once the whole body is in; until then, and after any failure, the old file stands.
void fetchInto(Inet& inet, const QString& url, const QString& path) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) throw fileError(file);
    inet.OpenURL(url, [&file](QByteArrayView chunk) {
        if (file.write(chunk.data(), chunk.size()) != chunk.size()) throw fileError(file);
    });
    if (!file.commit()) throw fileError(file);
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
