#pragma once

#include "platform/Error.h"

namespace pinlark {

// A document from the service that does not have the shape its record needs: not JSON, a
// required member missing, or a member of the wrong JSON type.
class DecodingError : public Error {
public:
    explicit DecodingError(QString detail)
        : m_detail(std::move(detail)) {}

    // What was wrong, for logs and tests.
    const QString& detail() const { return m_detail; }
    QString localizedDescription() const override;

private:
    QString m_detail;
};

} // namespace pinlark
