/* "Advanced Logging": chooses which channel parameters and system
 * parameters of a crate mainframe (system types 2 and 3) the change log
 * records, and into which file. Modal, deletes itself when closed.
 *
 * Nothing changes until OK is accepted: the node flags and the global
 * logFilename are set together then (Cancel, or an OK that is refused,
 * leaves both as they were). */
#ifndef QLOGDIALOG_H
#define QLOGDIALOG_H

#include <QDialog>
#include <QString>
#include <QStringList>

class KORUHVNode;
class QGridLayout;
class QGroupBox;
class QHBoxLayout;
class QDialogButtonBox;
class QLabel;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;
class QVBoxLayout;
class QCustomLineEdit;

class Ui_QLogDialog {
public:
    QVBoxLayout *verticalLayout_2 = nullptr;
    QGroupBox *groupBox = nullptr;
    QGridLayout *gridLayout = nullptr;
    QLabel *chLab = nullptr;
    QTreeWidget *treeWidget = nullptr;
    QLabel *parLab = nullptr;
    QTreeWidget *listWidget = nullptr;
    QLabel *label = nullptr;
    QHBoxLayout *horizontalLayout = nullptr;
    QCustomLineEdit *fileLine = nullptr;
    QPushButton *fileButton = nullptr;
    QDialogButtonBox *buttonBox = nullptr;

    void setupUi(QDialog *dialog);
};

class QLogDialog : public QDialog {
    Q_OBJECT

public:
    QLogDialog(KORUHVNode *system, QWidget *parent = nullptr);
    ~QLogDialog() override;

    void populateTreeAndListWidget();
    void createLogGroupConfig();
    void reset();
    void errorMessageBox();
    bool warningMessageBox();

    /* The file the field's text names: ".log" appended unless it ends so
     * (case-sensitive); a relative name lies in the home folder. Empty for
     * an empty field. */
    static QString logFileNameFromField(const QString &text, const QString &home);

    /* The system is going: the dialog forgets it, says so in a box of its
     * own and closes without changing anything. */
    void systemRemoved();
    /* Connected by the opener to its system's "tree is about to change"
     * notice: the dialog closes when the whole tree goes. */
    void treeAboutToChange(int slot);
    KORUHVNode *system() const { return systemNode; }

public Q_SLOTS:
    void changeItemVisibility(QTreeWidgetItem *currentItem);
    void okButtonClicked();
    void fileButtonClicked();
    void fileLineChanged(QString str);

private:
    /* Name, node type and channel count of each board, as listed. */
    QStringList boardSignature() const;
    void rebuildKeepingChoice();

    Ui_QLogDialog *ui;
    KORUHVNode *systemNode;
    QStringList shownBoards;
};

#endif
