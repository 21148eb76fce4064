#pragma once

#include <QString>

#include <exception>
#include <string>

// The one failure type: a number, a source and a French description, as the
// classic runtime reported them. Handlers that recover catch it by value.
class Failure : public std::exception
{
public:
    Failure(int number, QString description, QString source = defaultSource());

    int number() const noexcept { return m_number; }
    const QString &source() const noexcept { return m_source; }
    const QString &description() const noexcept { return m_description; }
    const char *what() const noexcept override { return m_what.c_str(); }

    static QString defaultSource() { return QStringLiteral("EssaimeurMV"); }

private:
    int m_number = 0;
    QString m_source;
    QString m_description;
    std::string m_what;
};

// The classic runtime numbers this program raises.
namespace FailureNumber {
constexpr int OutOfMemory = 7;
constexpr int IndexOutOfRange = 9;
constexpr int Interrupted = 18;
constexpr int InternalError = 51;
constexpr int BadFileName = 52;
constexpr int FileNotFound = 53;
constexpr int DeviceIO = 57;
constexpr int DiskFull = 61;
constexpr int DeviceUnavailable = 68;
constexpr int PermissionDenied = 70;
constexpr int DiskNotReady = 71;
constexpr int PathFileAccess = 75;
constexpr int PathNotFound = 76;
} // namespace FailureNumber

// The French description of a classic failure number ("" for a number we never raise).
QString describeFailure(int number);

// A failure built from its number alone, with the table's description.
Failure failureFor(int number);

// Maps a C library errno to the classic number and description.
int failureNumberForErrno(int err);
Failure failureFromErrno(int err);
