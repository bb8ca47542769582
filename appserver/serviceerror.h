#pragma once
// A request the application server refuses: the text is Portuguese and meant for the user.
#include <QString>

#include <stdexcept>

namespace fis {

class ServiceError : public std::runtime_error
{
public:
    explicit ServiceError(const QString &message)
        : std::runtime_error(message.toStdString()), m_message(message)
    {}
    QString message() const { return m_message; }

private:
    QString m_message;
};

} // namespace fis
