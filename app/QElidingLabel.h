/* A one-line label for a name that may be longer than the room it gets: it
 * shows as much as fits, ends a cut text with "…" and then carries the
 * whole text in its tool tip. Its size hint asks for the whole text, its
 * minimum for a few characters, so a layout shortens it before it squeezes
 * its neighbours. */
#ifndef QELIDINGLABEL_H
#define QELIDINGLABEL_H

#include <QLabel>

class QElidingLabel : public QLabel {
    Q_OBJECT
public:
    explicit QElidingLabel(const QString &text, QWidget *parent = nullptr);

    void setFullText(const QString &text);
    QString fullText() const { return full; }
    bool isElided() const { return text() != full; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void elide();
    QString full;
};

#endif
