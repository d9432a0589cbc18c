/* The trip-line editor: assigns each channel of a board (internal lines,
 * "TripInt") or of every board (external lines, "TripExt") to a line by
 * colour, and writes the channels' masks through their nodes on OK or Apply.
 * A channel on line L of N lines has the mask (1 << L) + (1 << (L + N)),
 * handled as a 32-bit unsigned word throughout. Deletes itself when closed.
 * GUI thread only. */
#ifndef QTRIPHANDLINGDIALOG_H
#define QTRIPHANDLINGDIALOG_H

#include <QDialog>
#include <QStringList>
#include <QVector>

class KORUHVNode;
class QDialogButtonBox;
class QPushButton;
class QScrollArea;
class QTableWidget;
class QTableWidgetItem;
class QVBoxLayout;
class QWidget;

namespace koruviews {
/* Number of lines: external 4; internal half the board's channel rows, at
 * most 16. */
int tripLineCount(bool external, int rows);
/* Mask of a channel on line L of N lines (0 for a negative line). */
quint32 tripLineMask(int line, int lineCount);
/* The "Result" text: unit then the mask as 8 hexadecimal digits. */
QString tripResultText(const QString &unit, quint32 mask, bool upperCase);
/* The mask of a "Result" text: the unit removed as a prefix only, the rest
 * read as hexadecimal; false when it does not parse. */
bool tripMaskFromResult(const QString &text, const QString &unit, quint32 *mask);
} // namespace koruviews

class QTripHandlingDialog : public QDialog {
    Q_OBJECT

public:
    QTripHandlingDialog(int ext, KORUHVNode *systemNode, QWidget *parent = nullptr);
    ~QTripHandlingDialog() override;

    void createTablesForLinking();
    QWidget *createGroupWidget(KORUHVNode *board);
    QTableWidget *createTableWidget(KORUHVNode *board);
    void setCellValues(QTableWidget *table);
    QWidget *createColorButtons(int lineCount, int size, int slotNr);

    KORUHVNode *getSystemNode() const { return systemNode; }
    bool hasComplexValues() const { return complexValues; }
    QDialogButtonBox *getButtonBox() const { return buttonBox; }
    QList<QTableWidget *> boardTables() const;

public Q_SLOTS:
    /* Connected by the opener to the "tree is about to change" notices:
     * the dialog forgets its nodes and is rejected without writing. */
    void treeAboutToChange(int slot);
    void checkCell(QTableWidgetItem *curr);
    void chooseColor();
    void applyValues();
    void showWarningMessageBox();

private:
    const char *tripParameterName() const;
    KORUHVNode *tripParameter(KORUHVNode *channel) const;
    KORUHVNode *boardOfTable(QTableWidget *table) const;
    void writeAll(bool keepSelection);

    QVBoxLayout *verticalLayout = nullptr;
    QScrollArea *scrollArea = nullptr;
    QWidget *scrollAreaWidgetContents = nullptr;
    QDialogButtonBox *buttonBox = nullptr;
    KORUHVNode *systemNode = nullptr;
    int ext = 0;
    QVector<QPushButton *> selectedLineButtons;
    QStringList lineColours;
    QString tripUnit;
    bool complexValues = false;
};

#endif
