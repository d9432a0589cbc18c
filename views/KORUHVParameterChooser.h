/* The parameters tab shared by the table configuration and the custom view
 * dialogs: one toggle button and one preview column per distinct parameter
 * name (letter case ignored); the preview's header order is the column
 * order the operator drags into place. */
#ifndef KORUHVPARAMETERCHOOSER_H
#define KORUHVPARAMETERCHOOSER_H

#include <QObject>
#include <QString>

class QGridLayout;
class QPushButton;
class QTableWidget;
class QWidget;

class KORUHVParameterChooser : public QObject {
    Q_OBJECT
public:
    /* buttonName: object name of the buttons ("configParamButton" or
     * "parButt"); preview: the dialog's preview table, owned by the caller. */
    KORUHVParameterChooser(QTableWidget *preview, const QString &buttonName, QObject *parent = nullptr);

    /* Column of the name (case ignored), -1 when absent. */
    int columnOf(const QString &name) const;
    /* Adds a button and a column unless the name is present; returns the
     * new button (null when present). */
    QPushButton *addName(const QString &name, bool shown);
    /* Moves the column of name to visual position index when in range. */
    void moveToVisualIndex(const QString &name, int index);
    bool isShown(const QString &name) const;
    int visualPosition(const QString &name) const;
    bool anyShown() const;
    void setShown(QPushButton *button, bool shown);
    void showAll();

    static QString darkStyle();
    static QString lightStyle();

public Q_SLOTS:
    /* Toggles the column of the sending button. */
    void toggleFromButton();

private:
    QTableWidget *preview;
    QString buttonName;
};

#endif
