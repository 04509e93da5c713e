#pragma once

#include <QByteArray>
#include <QtGlobal>

namespace qx200::testing {

// Sets an environment variable (or unsets it, for nullptr) for the scope's length, then puts it
// back as it was.
class ScopedVariable {
public:
    ScopedVariable(const char* name, const QByteArray* value)
        : name_(name), had_(qEnvironmentVariableIsSet(name)), old_(qgetenv(name))
    {
        value ? qputenv(name, *value) : qunsetenv(name);
    }
    ~ScopedVariable() { had_ ? qputenv(name_, old_) : qunsetenv(name_); }
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

private:
    const char* name_;
    bool had_;
    QByteArray old_;
};

} // namespace qx200::testing
