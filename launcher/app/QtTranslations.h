#pragma once

// Qt's own texts (the buttons of message boxes: Yes, No, Retry …) in the
// user's language, from the translations that come with Qt.

#include <QLocale>

namespace launcher {

// Installs Qt's translations for locale into the running application; false
// when Qt has none for it (the texts stay English). Calling it again replaces
// the earlier language.
bool InstallQtTranslations(const QLocale& locale = QLocale::system());

}  // namespace launcher
