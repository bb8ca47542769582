#pragma once
// The toolkit's own texts (file dialogs, print and page set-up dialogs, the command line's help
// headings, standard buttons) in Brazilian Portuguese, from the toolkit's translation files
// (Debian: qt6-translations-l10n).

namespace fis {

// Installs the toolkit's pt_BR translations into the running application (once). False when the
// translation files are not installed: the toolkit's texts then stay in English.
bool installToolkitTranslations();

} // namespace fis
