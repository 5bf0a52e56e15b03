// The desktop's language: Qt's own words (buttons, file dialogs) and the
// engine's messages, both in Chinese.
#pragma once

#include <QCoreApplication>
#include <QTranslator>
#include <string>
#include <vector>

namespace landstat::qt {

// Installs Qt's Chinese translations into `application`, from Qt's
// translations folder, and gives them (owned by `application`); none when
// they are not installed there (Qt's buttons and file dialogs then speak
// English).
QTranslator* InstallQtTranslations(QCoreApplication& application);

// A message of the engine as the desktop shows it: each line whose words
// the engine says in English (its refusals, its errors and those of the
// database, the file system and the reports) in Chinese, and a report named
// by its title, not by its table. What it does not know (a server's own
// words) stays as it is; file names, layers, fields and values are kept.
std::string InChinese(const std::string& message);

// The English templates of the engine's own messages that InChinese knows
// ("{}" where a message names something), not those of SQLite or the
// system: each must still be said somewhere by the engine.
std::vector<std::string> EngineTemplates();

}  // namespace landstat::qt
