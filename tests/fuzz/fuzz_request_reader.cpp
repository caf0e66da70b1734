// libFuzzer target: the loopback request reader and the routing of what it reads.
// The first byte of each input sets how the rest is cut into reads; the rest is the peer's bytes.
#include "session/HandBack.h"
#include "session/HttpRequestReader.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

using namespace pinlark;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const std::size_t cut = std::size_t(data[0]) * 37 + 1;
    const char* bytes = reinterpret_cast<const char*>(data + 1);
    std::size_t left = size - 1;

    HttpRequestReader reader;
    for (;;) {
        const std::size_t n = std::min({cut, left, std::size_t(reader.nextReadSize())});
        const bool ended = n == left;
        const auto step = reader.receive(QByteArrayView(bytes, qsizetype(n)), ended);
        bytes += n;
        left -= n;
        if (step == HttpRequestReader::Step::Drop)
            return 0;
        if (step == HttpRequestReader::Step::Complete)
            break;
        if (ended || reader.nextReadSize() <= 0)
            std::abort(); // the reader must decide once the peer has ended or the buffer is full
    }
    if (reader.head().size() > HttpRequestReader::capacity ||
        reader.body().size() > HttpRequestReader::capacity)
        std::abort();
    const auto answer = HandBack::route(reader.head(), reader.body(), QStringLiteral("s"),
                                        QStringLiteral("https://a.example"));
    const QByteArray response = HandBack::response(answer.status, answer.body, answer.corsOrigin);
    if (!response.startsWith("HTTP/1.1 ") || response.count("\r\n\r\n") < 1)
        std::abort();
    return 0;
}
