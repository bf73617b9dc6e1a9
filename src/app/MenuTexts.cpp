#include "app/MenuTexts.h"

#include <QString>

std::string MenuFormatText(std::string text, const std::string& prefix) {
    const size_t at = text.find(prefix);
    if (at != std::string::npos) text.erase(at, prefix.size());
    return QString::fromStdString(text).toLower().toStdString();
}
