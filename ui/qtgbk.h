// The edge between the core's GBK bytes and Qt's Unicode strings.
#pragma once

#include "core/gbk.h"

#include <QString>
#include <string>

namespace dielmon {

inline QString Q(const std::string& gbk) {
    return QString::fromStdString(GbkToUtf8(gbk));
}
inline std::string G(const QString& text) {
    return Utf8ToGbk(text.toStdString());
}

} // namespace dielmon
