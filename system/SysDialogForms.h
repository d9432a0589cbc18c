/* Small builders the hand-written forms of the system dialogs share. */
#ifndef SYSDIALOGFORMS_H
#define SYSDIALOGFORMS_H

#include <QLabel>
#include <QString>

namespace sysdlg {

inline const char *kCaptionStyle = "color: #444444;";
inline const char *kValueStyle = "color: #35a912; font: bold;";

/* A caption label in the captions' colour. */
inline QLabel *captionLabel(const char *name, const QString &text, QWidget *parent)
{
    auto *l = new QLabel(text, parent);
    l->setObjectName(QString::fromLatin1(name));
    l->setStyleSheet(QString::fromLatin1(kCaptionStyle));
    return l;
}

/* An empty value label or lamp. */
inline QLabel *valueLabel(const char *name, QWidget *parent)
{
    auto *l = new QLabel(parent);
    l->setObjectName(QString::fromLatin1(name));
    return l;
}

} // namespace sysdlg

#endif
