#include "app/StagingFlag.h"
#include "app/Translations.h"
#include "config/Dialog.h"
#include "src/Platform/Platform.h"

#include <QApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const bool staging = stagingRequested(argc, argv);
    // Before the first window: the forms take their texts when built.
    installTranslations(app, QString::fromStdString(createSystemPlatform()->programDirectory()),
                        QLocale::system());

    int result = 0;
    {
        Dialog dialog(staging);
        if (!dialog.driverFound()) {
            std::fprintf(stderr,
                         "velmora-configure: no driver library was found in %s or its subfolders.\n"
                         "Install the driver, or start this program from the folder the driver was installed "
                         "to.\n",
                         dialog.programDirectory().empty() ? "(the program's folder is unknown)"
                                                           : dialog.programDirectory().c_str());
            return 2;
        }
        dialog.show();
        result = app.exec();
    } // the dialog's end removes the driver's debug switch
    return result;
}
