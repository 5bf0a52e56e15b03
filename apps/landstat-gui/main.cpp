// landstat-gui: the desktop host of the statistics engine.
//
//   landstat-gui [--home DIR] [PROJECT.xml [DATABASE.sqlite]]

#include <QApplication>
#include <exception>
#include <filesystem>
#include <iostream>
#include <string>

#include "main_window.h"
#include "platform/host/paths.h"
#include "ui/desktop_words.h"

int main(int argc, char** argv) {
  try {
    QApplication application(argc, argv);
    // Qt's own buttons and file dialogs in Chinese, as the rest.
    if (!landstat::qt::InstallQtTranslations(application)) {
      std::cerr << "landstat-gui: Qt's Chinese translations (qtbase_zh_CN.qm) are not installed: "
                   "Qt's buttons and file dialogs show in English\n";
    }
    landstat::gui::MainWindow window;
    for (int i = 1; i < argc; ++i) {
      const std::string argument = argv[i];
      if (argument == "--home" && i + 1 < argc) {
        // Absolute, so that a later change of folder (a file dialog's) keeps it.
        landstat::host::SetProgramDir(std::filesystem::absolute(argv[++i]).string());
      } else if (argument.size() > 4 && argument.substr(argument.size() - 4) == ".xml") {
        window.OpenProject(argument);
      } else {
        window.SetDatabase(argument);
      }
    }
    window.show();
    return application.exec();
  } catch (const std::exception& error) {
    std::cerr << "landstat-gui: " << error.what() << "\n";
  } catch (...) {
    std::cerr << "landstat-gui: stopped by a failure of unknown kind\n";
  }
  return 1;
}
