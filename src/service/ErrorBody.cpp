#include "service/ErrorBody.h"

#include "service/JsonReader.h"

namespace pinlark {

ErrorBody ErrorBody::decode(const QByteArray& json) {
    const JsonReader body = JsonReader::parse(json);
    return {body.optionalString(QLatin1String("error")),
            body.optionalString(QLatin1String("message"))};
}

} // namespace pinlark
