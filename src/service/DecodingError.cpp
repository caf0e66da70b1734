#include "service/DecodingError.h"

namespace pinlark {

QString DecodingError::localizedDescription() const {
    return QStringLiteral("The data couldn't be read because it isn't in the correct format.");
}

} // namespace pinlark
