#include "service/SaveResponse.h"

#include "service/JsonReader.h"

namespace pinlark {

SaveResponse SaveResponse::decode(const QByteArray& json) {
    const JsonReader body = JsonReader::parse(json);
    return {body.string(QLatin1String("id")), body.optionalBool(QLatin1String("existing"))};
}

} // namespace pinlark
