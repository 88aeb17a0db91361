#pragma once

#include <QByteArray>

namespace zandrel::test {

// Sets an environment variable (or removes it, given a null value) for as long as it lives,
// then puts back what was there.
class EnvVar {
public:
    EnvVar(const char* name, const QByteArray& value)
        : name_(name), old_(qgetenv(name)), had_(qEnvironmentVariableIsSet(name)) {
        if (value.isNull())
            qunsetenv(name);
        else
            qputenv(name, value);
    }
    ~EnvVar() {
        if (had_)
            qputenv(name_, old_);
        else
            qunsetenv(name_);
    }
    EnvVar(const EnvVar&) = delete;
    EnvVar& operator=(const EnvVar&) = delete;

private:
    const char* name_;
    QByteArray old_;
    bool had_;
};

}  // namespace zandrel::test
