/* A top-level window holding one system's table window while the views float;
 * the operator cannot close it (its system's disconnection removes it). */
#ifndef QFLOATINGWINDOW_H
#define QFLOATINGWINDOW_H

#include <QMainWindow>

class QFloatingWindow : public QMainWindow {
    Q_OBJECT
public:
    QFloatingWindow(QWidget *parent, int index, QString title);
    int getWidgetIndex() const { return widgetIndex; }
    void setWidgetIndex(int index) { widgetIndex = index; }

Q_SIGNALS:
    void focused(int index);
    void closing(int index);

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    int widgetIndex;
};

#endif
