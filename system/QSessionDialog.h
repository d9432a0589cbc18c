/* Read-only table of the clients logged in to a crate or rack, from the text
 * of its "Sessions" parameter at the moment of opening. */
#ifndef QSESSIONDIALOG_H
#define QSESSIONDIALOG_H

#include <QDialog>
#include <QString>
#include <QStringList>
#include <QVector>

class QTreeWidget;
class QPushButton;
class QVBoxLayout;
class QHBoxLayout;

class QSessionDialog : public QDialog {
    Q_OBJECT
public:
    explicit QSessionDialog(QString sessionList, QWidget *parent = nullptr);
    ~QSessionDialog() override;

    void splitMainString(QString sessionList);
    void fillListWidget();

private:
    QVBoxLayout *verticalLayout = nullptr;
    QTreeWidget *treeWidget = nullptr;
    QHBoxLayout *horizontalLayout = nullptr;
    QPushButton *closeButton = nullptr;
    QVector<QStringList> sessions;
};

#endif
