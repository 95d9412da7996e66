// The one crossing between byte strings and Qt strings: Latin-1, so that every byte
// survives the round trip.
#pragma once

#include <QByteArray>
#include <QString>
#include <string>
#include <string_view>

namespace gatemoor::platform {

inline QString ToQString(std::string_view bytes) {
    return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

inline std::string FromQString(const QString& text) {
    QByteArray bytes = text.toLatin1();
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

}  // namespace gatemoor::platform
