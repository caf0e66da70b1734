#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

#include <optional>

namespace pinlark {

// Reads one HTTP/1.1 request, head and body, from the pieces a connection delivers. At most
// `capacity` bytes are held: a head that has not ended by then is dropped; a body that does not
// fit is handed on cut short.
class HttpRequestReader {
public:
    static constexpr qsizetype capacity = 8192;

    enum class Step {
        // Arm the next read.
        ReadMore,
        // Cancel the connection without an answer.
        Drop,
        // head() and body() are the request; answer it.
        Complete,
    };

    // How many bytes the next read may ask for: at most `capacity`, and never more than fits.
    qsizetype nextReadSize() const { return capacity - m_buffer.size(); }

    // Adds what one read delivered (possibly nothing) and says what comes next. `isComplete`:
    // the peer has finished sending.
    Step receive(QByteArrayView data, bool isComplete);

    // The bytes before the first CR LF CR LF, as UTF-8 (invalid sequences replaced).
    QString head() const;
    // Every byte after the CR LF CR LF that has arrived, not cut to the declared length.
    QByteArray body() const;

    // The request's method: the head up to its first space (empty pieces skipped).
    static QString method(QStringView head);
    // The value of the first header of the head (request line skipped) whose name, in ASCII
    // lower case, is `name` (given in lower case). The name is not trimmed; the value is trimmed
    // of spaces and tabs. Leading colons of a line are skipped; a line without a colon after its
    // name, or with nothing after that colon, is skipped.
    static std::optional<QString> header(QStringView name, QStringView head);
    // A decimal integer: an optional sign, then ASCII digits only, within the 64-bit range.
    static std::optional<qint64> parseInteger(QStringView text);

private:
    QByteArray m_buffer;
    qsizetype m_headEnd = -1;
    // The content length of the head, once the head is complete.
    std::optional<qint64> m_declared;
};

} // namespace pinlark
