#pragma once

#include <QString>

#include <cstdint>
#include <exception>
#include <string>

// A trapped runtime error: the number an administrator of the original platform knows, and its description.
class CulvaneError : public std::exception {
public:
    // What a failed database statement tells about the server's part in it.
    enum class Statement {
        // Not a database statement's failure.
        None,
        // The server answered with an error: it did not carry the statement out.
        Refused,
        // It failed on this side after it was sent (a command timeout, a connection lost): the server may
        // have carried it out all the same.
        Unanswered,
        // No connection could be opened for it: it never left this machine.
        NotSent,
    };

    CulvaneError(int number, QString description, QString detail = QString(),
                 Statement statement = Statement::None);

    int number() const { return m_number; }
    const QString& description() const { return m_description; }
    // What lies beneath, for the administrator and for support: for a database failure the data source
    // and the driver's own error number and message. Empty for the program's own errors.
    const QString& detail() const { return m_detail; }
    Statement statement() const { return m_statement; }
    const char* what() const noexcept override { return m_what.c_str(); }

private:
    int m_number;
    QString m_description;
    QString m_detail;
    Statement m_statement;
    std::string m_what;
};

namespace ErrorNumbers {
constexpr int InvalidProcedureCall = 5;
constexpr int Overflow = 6;
constexpr int SubscriptOutOfRange = 9;
constexpr int TypeMismatch = 13;
constexpr int FileNotFound = 53;
constexpr int PermissionDenied = 70;
constexpr int PathFileAccessError = 75;
constexpr int InvalidUseOfNull = 94;
constexpr int UnsupportedValueType = 1001;
} // namespace ErrorNumbers

[[noreturn]] void raiseError(int number, const QString& description, const QString& detail = QString());
[[noreturn]] void raiseOverflow();

// Conversions with the original's 16-bit overflow rule (error 6 "Overflow" instead of wrapping).
std::int16_t toInt16(long long value);
// Adds one to a 16-bit counter, raising "Overflow" past 32767.
std::int16_t increment16(std::int16_t value);
