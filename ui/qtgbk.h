// The edge between the layers' byte strings and Qt's Unicode strings: the core's GBK texts, and
// the archive's and the assessment's UTF-8.
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
inline QString Utf8(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}
// UTF-8 text for rich text, its markup characters escaped.
inline QString Html(const std::string& text) {
    return Utf8(text).toHtmlEscaped();
}

} // namespace dielmon
