/* The one way the groups and customization code asks for a file: a
 * non-native file dialog, so that tests find it as the active modal widget
 * and answer it. Empty text: cancelled or nothing chosen. */
#ifndef KORUHVFILECHOOSER_H
#define KORUHVFILECHOOSER_H

#include <QString>

class QWidget;

QString KORUHVChooseFile(QWidget *parent, bool forSaving, const QString &nameFilter);

#endif
