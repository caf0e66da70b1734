#include "service/FeedResponse.h"

#include "service/DecodingError.h"
#include "service/JsonReader.h"

namespace pinlark {

FeedResponse FeedResponse::decode(const QByteArray& json) {
    const auto elements = JsonReader::parse(json).optionalArray(QLatin1String("saves"));
    if (!elements)
        return {};
    QList<SaveRow> saves;
    saves.reserve(elements->size());
    for (const QJsonValue& element : *elements) {
        if (!element.isObject())
            throw DecodingError(QStringLiteral("a feed element is not an object"));
        saves.append(SaveRow::fromJson(element.toObject()));
    }
    return {saves};
}

} // namespace pinlark
