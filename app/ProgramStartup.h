/* The program's start-up sequence, apart from main() so that tests reach it. */
#ifndef PROGRAMSTARTUP_H
#define PROGRAMSTARTUP_H

#include <QString>

class MainWindow;

/* Resources of the standard or the regional look (country 100 of Qt's old
 * numbering, QLocale::India). */
struct KORUHVLookResources {
    QString icon;
    QString splash;
    QString styleSheet;
};
KORUHVLookResources KORUHVLookFor(int country);

/* Creates the single main window once. */
MainWindow *createMainWindow();
/* Registers the built-in font; the family its registration reports. */
QString KORUHVRegisterFont();
/* That family once registered (empty before); the on/off switch uses it. */
QString KORUHVFontFamily();
/* The style sheet text (bytes up to a NUL) or empty. */
QString KORUHVReadStyleSheet(const QString &path);
/* Adds the installed plug-in folder and the program folder's "plugins/" to
 * the plug-in paths (the working folder is not one of them). */
void KORUHVAddPluginPaths();
/* Steps after the application object: main window, splash, style, event
 * server, connection dialog. Returns the main window. */
MainWindow *KORUHVStartProgram();

#endif
