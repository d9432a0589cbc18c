/* The button looks of the system panel, shared by its commands and the
 * launchers of its dialogs. */
#ifndef SYSTEMPANELSTYLES_H
#define SYSTEMPANELSTYLES_H

#include <QString>

namespace syspanel {

inline QString gradientLook(const char *top, const char *bottom, const char *textColour)
{
    QString colour = textColour ? QStringLiteral(" color: %1;").arg(QLatin1String(textColour)) : QString();
    return QStringLiteral(
               "QPushButton:enabled { border: 1px solid lightgrey;%1 background: qlineargradient(x1:0, "
               "y1:0, x2:0, y2:1, stop:0 %2, stop:1 %3); } "
               "QPushButton:disabled { border: 1px solid grey; background: qlineargradient(x1:0, y1:0, "
               "x2:0, y2:1, stop:0 lightgrey, stop:1 grey); color: black; }")
        .arg(colour, QLatin1String(top), QLatin1String(bottom));
}

inline QString selectedLook()
{
    return gradientLook("#7fec2f", "#439847", nullptr);
}
inline QString unselectedLook()
{
    return gradientLook("#9d9d9d", "#626262", nullptr);
}
inline QString pressedLook()
{
    return gradientLook("#747474", "#383838", "#bfff27");
}
inline QString litLook()
{
    return gradientLook("#bfff27", "#98bd40", "#383838");
}
inline QString plainLook()
{
    return QStringLiteral("border: 1px solid white; color: #202020; background-color: transparent;");
}

} // namespace syspanel

#endif
