#pragma once

#include <QString>
#include <QStringList>

// The window's language. Russian is the language the texts are written in;
// English comes from the translation compiled into the program. The command
// line tool never calls any of this and stays English.
namespace Language {

// Language codes the window offers, Russian first.
QStringList available();

// What the system locale asks for: Russian for a Russian (or unset, "C")
// locale, English for any other.
QString fromSystem();

// The language the user last chose from the menu, or empty.
QString remembered();
void remember(const QString &code);

// The --lang option wins, then the user's menu choice, then the system.
QString choose(const QString &option);

// Installs the translations for a language (replacing any installed before)
// and makes its locale the default for dates and numbers. For Russian that
// is Qt's own translation of its dialogs and menus; for English the
// program's translation. False with a reason when a file could not be
// loaded; the window still works, in the texts that did load.
bool apply(const QString &code, QString *problem = nullptr);

// The language applied last, empty before any.
QString current();

} // namespace Language
