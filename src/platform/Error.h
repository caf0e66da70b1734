#pragma once

#include <QString>

#include <exception>

namespace pinlark {

// Base of every error the program throws: a user-facing description plus std::exception.
class Error : public std::exception {
public:
    virtual QString localizedDescription() const = 0;
    const char* what() const noexcept override;

private:
    mutable QByteArray m_what;
};

// An error reported by an operating-system service, carrying its description.
class PlatformError : public Error {
public:
    explicit PlatformError(QString description)
        : m_description(std::move(description)) {}
    QString localizedDescription() const override { return m_description; }

private:
    QString m_description;
};

} // namespace pinlark
