/* The program's about box: logo, name, version, licence lines and the
 * support contact, with a regional text set for one country. Deletes itself
 * when it closes. */
#ifndef QABOUTDIALOG_H
#define QABOUTDIALOG_H

#include <QDialog>
#include <QLocale>

class Ui_QAboutDialog;

class QAboutDialog : public QDialog {
    Q_OBJECT
public:
    explicit QAboutDialog(QWidget *parent);
    ~QAboutDialog() override;

    /* The territory whose regional texts the box shows. */
    static bool usesRegionalTexts(QLocale::Territory territory) { return territory == QLocale::India; }

private:
    Ui_QAboutDialog *ui;
};

#endif
