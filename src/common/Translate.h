#pragma once

// The texts of a console run in the run's language. Each text is written in
// the code once, as its message id: the Russian texts the window shows and
// the English texts that only the console shows. The catalogue of a language
// (po/en.po, po/ru.po, compiled by msgfmt and read through gettext) gives the
// forms of the other language's texts; a text it lacks stays as it is.
//
// Translation is off until the console program turns it on, so the window
// (which never does) shows every text exactly as written.

#include <initializer_list>
#include <string>
#include <vector>

namespace jarseal {

// The catalogue language a console run asks for by its locale: "ru" when the
// first set one of LC_ALL, LC_MESSAGES and LANG begins with "ru", else "en".
std::string LanguageOfLocale();

// Turns translation on for the rest of the process, with the catalogues
// below folder (folder/LANG/LC_MESSAGES/jarseal.mo). Works without any
// locale installed: the messages locale is C.UTF-8 and the language is
// named through LANGUAGE, which gettext heeds for every locale but "C".
void UseCatalogue(const std::string& language, const std::string& folder);

// The language turned on, or the empty text while translation is off.
const std::string& CatalogueLanguage();

// The text in the run's language (the text itself while translation is off).
const char* Tr(const char* text);
std::string Tr(const std::string& text);

// Tr of a text with values: each "{N}" (N from 1) is replaced by the Nth
// value after translation, so a translation may put them in its own order.
std::string TrFormat(const char* text, std::initializer_list<std::string> values);

// A text with values that another program printed (a tool's reason): when
// line matches one of patterns (texts with "{N}" holes, as for TrFormat),
// the translated pattern with the values found; otherwise line unchanged.
std::string TrMatching(const std::string& line, const std::vector<const char*>& patterns);

// Marks a text for the catalogue without translating it where it stands (a
// pattern list, a table that is translated where it is shown).
#define JARSEAL_N(text) text

} // namespace jarseal
