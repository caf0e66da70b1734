#include "update/Manifest.h"

#include "service/JsonReader.h"

namespace pinlark {

Manifest Manifest::decode(const QByteArray& bytes) {
    const JsonReader json = JsonReader::parse(bytes);
    return {json.string(QLatin1String("version")), json.optionalString(QLatin1String("url")),
            json.optionalString(QLatin1String("page")),
            json.optionalString(QLatin1String("sha256"))};
}

} // namespace pinlark
