/* The systems of a saved customization, to reconnect and apply. Rows come
 * from files that may be broken or hostile: a row that did not read, has an
 * overlong address or names a type the connection dialog does not offer is
 * shown disabled and never connects. */
#ifndef QLOADCUSTDIALOG_H
#define QLOADCUSTDIALOG_H

#include <QDialog>
#include <QMultiHash>
#include <QPointer>
#include <QStringList>
#include <QVariant>
#include <QVector>

class KORUHVCustomizations;
class QDialogButtonBox;
class QGroupBox;
class QWidget;

class QLoadCustDialog : public QDialog {
    Q_OBJECT
public:
    QLoadCustDialog(QWidget *parent, QString file, KORUHVCustomizations *controller);

    static QString getSubdirPath(QString file);
    static QStringList getSubFiles(QString dir);
    void createWidgetsForPSInFile(QString file);
    QWidget *createSystemRowWidget(QString name, QString initParam, int psType, int connType, int limit,
                                   bool isCustomView, bool usable);
    QWidget *createWidgetForUserPassField();
    int countPSAlreadyConnected();
    bool checkConnected(QString initParam);

    QVector<QWidget *> rows() const { return rowWidgets; }
    QDialogButtonBox *buttons() const { return buttonBox; }

public Q_SLOTS:
    void checkPressed(int state);
    void okButtonClicked();

private:
    void updateOkButton();

    int checkedCount = 0;
    QPointer<KORUHVCustomizations> controller;
    QVector<QMultiHash<QString, QVariant>> hashes;
    QVector<QWidget *> rowWidgets;
    QGroupBox *views = nullptr;
    QDialogButtonBox *buttonBox = nullptr;
};

#endif
