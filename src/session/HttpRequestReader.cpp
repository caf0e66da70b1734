#include "session/HttpRequestReader.h"

#include <limits>

namespace pinlark {

namespace {
constexpr QByteArrayView terminator("\r\n\r\n");

bool isSpaceOrTab(QChar c) {
    return c == u' ' || c == u'\t';
}

bool equalsAsciiLowered(QStringView text, QStringView lower) {
    if (text.size() != lower.size())
        return false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        char16_t c = text[i].unicode();
        if (c >= u'A' && c <= u'Z')
            c = char16_t(c + (u'a' - u'A'));
        if (c != lower[i].unicode())
            return false;
    }
    return true;
}
} // namespace

HttpRequestReader::Step HttpRequestReader::receive(QByteArrayView data, bool isComplete) {
    m_buffer.append(data.first(std::min(data.size(), nextReadSize())));
    // The terminator is looked for from the start each time. Once found it stays where it is
    // (bytes are only added at the end), and so does the declared length.
    m_headEnd = m_buffer.indexOf(terminator);
    const bool full = m_buffer.size() >= capacity;
    if (m_headEnd < 0)
        return isComplete || full ? Step::Drop : Step::ReadMore;
    if (!m_declared)
        m_declared =
            parseInteger(header(u"content-length", head()).value_or(QString())).value_or(0);
    const qint64 received = m_buffer.size() - m_headEnd - terminator.size();
    return received >= *m_declared || isComplete || full ? Step::Complete : Step::ReadMore;
}

QString HttpRequestReader::head() const {
    return m_headEnd < 0 ? QString() : QString::fromUtf8(m_buffer.first(m_headEnd));
}

QByteArray HttpRequestReader::body() const {
    return m_headEnd < 0 ? QByteArray() : m_buffer.sliced(m_headEnd + terminator.size());
}

QString HttpRequestReader::method(QStringView head) {
    qsizetype start = 0;
    while (start < head.size() && head[start] == u' ')
        ++start;
    qsizetype end = head.indexOf(u' ', start);
    if (end < 0)
        end = head.size();
    return head.sliced(start, end - start).toString();
}

std::optional<QString> HttpRequestReader::header(QStringView name, QStringView head) {
    bool requestLine = true;
    qsizetype lineStart = 0;
    while (lineStart <= head.size()) {
        qsizetype lineEnd = head.indexOf(u"\r\n", lineStart);
        if (lineEnd < 0)
            lineEnd = head.size();
        const QStringView line = head.sliced(lineStart, lineEnd - lineStart);
        lineStart = lineEnd + 2;
        if (line.isEmpty())
            continue;
        if (std::exchange(requestLine, false))
            continue;
        qsizetype nameStart = 0;
        while (nameStart < line.size() && line[nameStart] == u':')
            ++nameStart;
        const qsizetype colon = line.indexOf(u':', nameStart);
        if (colon < 0 || colon + 1 == line.size())
            continue;
        if (!equalsAsciiLowered(line.sliced(nameStart, colon - nameStart), name))
            continue;
        QStringView value = line.sliced(colon + 1);
        while (!value.isEmpty() && isSpaceOrTab(value.front()))
            value = value.sliced(1);
        while (!value.isEmpty() && isSpaceOrTab(value.back()))
            value.chop(1);
        return value.toString();
    }
    return std::nullopt;
}

std::optional<qint64> HttpRequestReader::parseInteger(QStringView text) {
    bool negative = false;
    if (!text.isEmpty() && (text.front() == u'+' || text.front() == u'-')) {
        negative = text.front() == u'-';
        text = text.sliced(1);
    }
    if (text.isEmpty())
        return std::nullopt;
    // Accumulated as a negative number, whose range holds the 64-bit minimum too.
    constexpr qint64 min = std::numeric_limits<qint64>::min();
    qint64 value = 0;
    for (const QChar c : text) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
        const int digit = c.unicode() - u'0';
        if (value < (min + digit) / 10)
            return std::nullopt;
        value = value * 10 - digit;
    }
    if (negative)
        return value;
    if (value == min)
        return std::nullopt;
    return -value;
}

} // namespace pinlark
