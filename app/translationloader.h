#pragma once

#include <QMap>
#include <QString>
#include <QStringList>

class QApplication;
class QTranslator;

// Translation files live in a folder "dict", one per locale, named
// <prefix><separator><locale key>...<suffix>, for example "Trns_zh_CN.qm".
// The window looks for it under the working directory, then beside the
// program, then in the installed data folder (share/kcradioconfig).

// Adds every plain file of "<current directory>/dict/" whose name starts with
// prefix and ends with suffix to map (locale key -> absolute path). Returns
// whether the map holds an entry afterwards; false when the folder is missing.
bool searchTranslationFiles(QMap<QString, QString> &map, const QString &prefix,
                            const QString &suffix);

// The same search in the given folder.
bool searchTranslationFilesIn(const QString &dirPath, QMap<QString, QString> &map,
                              const QString &prefix, const QString &suffix);

// The file for localeName: its own, else the "en_US" one, else the one with
// the smallest key. Empty only for an empty map.
QString chooseTranslationFile(const QMap<QString, QString> &map, const QString &localeName);

// The locale key of the file chooseTranslationFile picks; empty only for an
// empty map.
QString chooseTranslationLocale(const QMap<QString, QString> &map, const QString &localeName);

// The "dict" folders looked in, in order, for a program started in
// workingDir whose executable is in programDir.
QStringList translationFolders(const QString &workingDir, const QString &programDir);

// Installs the translation of the system locale found in the first of the
// translationFolders() that holds one. Returns false when none does (nothing
// installed, and one warning names the folders searched), true otherwise,
// also when the chosen file could not be loaded.
bool loadTranslation(QApplication &app, QTranslator &translator, QMap<QString, QString> &map);

// The same with the folders and the locale name given.
bool loadFirstTranslation(QApplication &app, QTranslator &translator, QMap<QString, QString> &map,
                          const QStringList &dirPaths, const QString &localeName);

// The same with the folder and the locale name given.
bool loadTranslationFrom(QApplication &app, QTranslator &translator, QMap<QString, QString> &map,
                         const QString &dirPath, const QString &localeName);

// Qt's own translation (qtbase_<language>.qm, where standard buttons such as
// OK and Cancel get their words) for localeKey, from qtDir. Installs it and
// returns true when the folder has one for the locale or its language.
bool loadQtTranslationFrom(QApplication &app, QTranslator &translator, const QString &localeKey,
                           const QString &qtDir);

// The same from the folder where this Qt keeps its translations (Debian:
// the packages qttranslations5-l10n, qt6-translations-l10n).
bool loadQtTranslation(QApplication &app, QTranslator &translator, const QString &localeKey);
