#include "report.h"

#include "base/printable.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace zandrel::check {

QString severityName(Severity severity) {
    switch (severity) {
        case Severity::Info:
            return QStringLiteral("info");
        case Severity::Warning:
            return QStringLiteral("warning");
        case Severity::Problem:
            return QStringLiteral("problem");
    }
    return {};
}

void Report::info(const QString& step, const QString& code, const QString& text,
                  const QJsonObject& details) {
    add({step, code, Severity::Info, text, details});
}

void Report::warning(const QString& step, const QString& code, const QString& text,
                     const QJsonObject& details) {
    add({step, code, Severity::Warning, text, details});
}

void Report::problem(const QString& step, const QString& code, const QString& text,
                     const QJsonObject& details) {
    add({step, code, Severity::Problem, text, details});
}

int Report::count(Severity severity) const {
    int n = 0;
    for (const Finding& f : findings_) n += f.severity == severity ? 1 : 0;
    return n;
}

int Report::exitStatus() const {
    if (unusable_) return kExitUnusable;
    return count(Severity::Problem) > 0 ? kExitProblems : kExitOk;
}

namespace {

QString counted(int n, const char* one, const char* many) {
    return QStringLiteral("%1 %2").arg(n).arg(QLatin1String(n == 1 ? one : many));
}

// A finding's text on one line: untrusted values may hold line breaks or hidden characters.
QString oneLine(QString text) {
    text.remove(QLatin1Char('\r'));
    text.replace(QLatin1Char('\n'), QStringLiteral(" / "));
    return printable(text);
}

}  // namespace

QString Report::lastLine() const {
    const int problems = count(Severity::Problem);
    const int warnings = count(Severity::Warning);
    QString line = problems == 0 ? QStringLiteral("OK") : counted(problems, "problem", "problems");
    if (warnings > 0) line += QStringLiteral(", ") + counted(warnings, "warning", "warnings");
    return line;
}

QString Report::toText() const {
    QString out;
    for (const Finding& f : findings_) {
        out += QStringLiteral("%1 %2 %3\n")
                   .arg(f.step, -8)
                   .arg(severityName(f.severity), -7)
                   .arg(oneLine(f.text));
    }
    if (!linesToPaste_.isEmpty()) {
        out += QStringLiteral("\nFor [Main] in connect.ini, computed from the update fetched:\n");
        for (const QString& line : linesToPaste_) out += oneLine(line) + QLatin1Char('\n');
        out += QLatin1Char('\n');
    }
    out += lastLine() + QLatin1Char('\n');
    return out;
}

QByteArray Report::toJson() const {
    QJsonArray findings;
    for (const Finding& f : findings_) {
        QJsonObject o = f.details;
        o.insert(QStringLiteral("step"), f.step);
        o.insert(QStringLiteral("code"), f.code);
        o.insert(QStringLiteral("severity"), severityName(f.severity));
        o.insert(QStringLiteral("text"), f.text);
        findings.append(o);
    }
    QJsonObject doc;
    doc.insert(QStringLiteral("address"), address_);
    doc.insert(QStringLiteral("findings"), findings);
    if (!linesToPaste_.isEmpty())
        doc.insert(QStringLiteral("linesToPaste"), QJsonArray::fromStringList(linesToPaste_));
    doc.insert(QStringLiteral("problems"), count(Severity::Problem));
    doc.insert(QStringLiteral("warnings"), count(Severity::Warning));
    doc.insert(QStringLiteral("result"), lastLine());
    doc.insert(QStringLiteral("exitStatus"), exitStatus());
    return QJsonDocument(doc).toJson(QJsonDocument::Indented);
}

}  // namespace zandrel::check
