#include "core/ClientConnectionState.h"

#include <QMetaEnum>

namespace doorwarden {

QString ClientConnectionState::name() const
{
    const QString kindName = QString::fromLatin1(QMetaEnum::fromType<Kind>().valueToKey(static_cast<int>(kind_)));
    return kind_ == Kind::failed ? kindName + u'(' + failureReason_ + u')' : kindName;
}

} // namespace doorwarden
