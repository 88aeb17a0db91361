#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

// What zandrel-check found, step by step, and how it is printed: as lines for a person or as one
// JSON document for a script.
namespace zandrel::check {

enum class Severity {
    Info,     // what the program did and saw
    Warning,  // players get through, but something will surprise them
    Problem,  // players see a failure box, or the update does not reach their maps
};

struct Finding {
    QString step;  // "settings", "keys", "update" or "mirrors"
    QString code;  // stable name of the kind of finding (docs/check.md lists them)
    Severity severity = Severity::Info;
    QString text;
    QJsonObject details;  // extra fields for the JSON form (key, url, size, ...)
};

// Exit status of the tool.
inline constexpr int kExitOk = 0;
inline constexpr int kExitProblems = 1;
inline constexpr int kExitUnusable = 2;  // bad usage, no answer, or the checker's own failure

class Report {
public:
    explicit Report(QString address = {}) : address_(std::move(address)) {}

    void add(Finding finding) { findings_.append(std::move(finding)); }
    void info(const QString& step, const QString& code, const QString& text,
              const QJsonObject& details = {});
    void warning(const QString& step, const QString& code, const QString& text,
                 const QJsonObject& details = {});
    void problem(const QString& step, const QString& code, const QString& text,
                 const QJsonObject& details = {});

    // Lines for the administrator to paste into connect.ini as they are ("UpdateSHA256=...",
    // "UpdateSize=..."), printed apart from the findings.
    void setLinesToPaste(QStringList lines) { linesToPaste_ = std::move(lines); }
    const QStringList& linesToPaste() const { return linesToPaste_; }

    // The check could not be made: the server did not answer at all, or the checker itself
    // failed (no temporary folder, no room in it). Exit status 2, whatever else was found.
    void setUnusable() { unusable_ = true; }
    bool unusable() const { return unusable_; }

    const QString& address() const { return address_; }
    const QList<Finding>& findings() const { return findings_; }
    int count(Severity severity) const;
    int exitStatus() const;

    // "OK", "OK, 1 warning", "2 problems", "1 problem, 3 warnings".
    QString lastLine() const;

    // One line per finding ("step  severity  text"), then the lines to paste under a heading of
    // their own, then the last line.
    QString toText() const;
    // {"address", "findings": [{step, code, severity, text, ...details}], "problems",
    //  "warnings", "result" (the last line), "exitStatus", "linesToPaste" (when there are)}
    QByteArray toJson() const;

private:
    QString address_;
    QList<Finding> findings_;
    QStringList linesToPaste_;
    bool unusable_ = false;
};

QString severityName(Severity severity);

}  // namespace zandrel::check
