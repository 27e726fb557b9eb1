#include "engine/nav/LanguageNames.h"

#include <QLocale>

namespace velmora {

QString languageName(std::uint16_t code)
{
    const QString unknown = QStringLiteral("Unknown");
    char letters[2] = {static_cast<char>(code >> 8), static_cast<char>(code & 0xFF)};
    for (char &c : letters) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c < 'a' || c > 'z')
            return unknown;
    }
    QString iso = QString::fromLatin1(letters, 2);
    // ISO 639 of 1988, which the DVD format cites, had these codes; they
    // were replaced in 1989 and QLocale knows only the new ones.
    if (iso == QLatin1String("iw"))
        iso = QStringLiteral("he");
    else if (iso == QLatin1String("in"))
        iso = QStringLiteral("id");
    else if (iso == QLatin1String("ji"))
        iso = QStringLiteral("yi");
    const QLocale::Language language = QLocale::codeToLanguage(iso, QLocale::ISO639Part1);
    if (language == QLocale::AnyLanguage || language == QLocale::C)
        return unknown;
    return QLocale::languageToString(language);
}

} // namespace velmora
