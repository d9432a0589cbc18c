/* A label that reports a left click (press and release on it). */
#ifndef QCUSTOMLABEL_H
#define QCUSTOMLABEL_H

#include <QLabel>

class QCustomLabel : public QLabel {
    Q_OBJECT
public:
    explicit QCustomLabel(QWidget *parent = nullptr);

signals:
    void clicked();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;

private:
    bool pressed = false;
};

#endif
