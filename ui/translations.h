// Qt's own texts (standard buttons, file dialogs, context menus) in Chinese, like the window's.
#pragma once

#include <QString>

class QCoreApplication;

namespace dielmon {

// Loads Qt's Simplified Chinese catalogue from Qt's translations folder into `app`. False when
// the catalogue is not installed (Debian: qt6-translations-l10n); Qt's texts then stay English.
bool InstallQtTranslations(QCoreApplication& app);

// The folder Qt's catalogues are read from.
QString QtTranslationsFolder();

} // namespace dielmon
