/* An image-format plug-in for the format "korutrap" that reads nothing: the
 * plug-in path test plants it where the program must not look for plug-ins
 * and sees whether Qt offers its format. */
#include <QImageIOPlugin>

class TrapImagePlugin : public QImageIOPlugin {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QImageIOHandlerFactoryInterface_iid FILE "trap_imageplugin.json")

public:
    Capabilities capabilities(QIODevice *, const QByteArray &format) const override
    {
        return format == "korutrap" ? CanRead : Capabilities();
    }
    QImageIOHandler *create(QIODevice *, const QByteArray & = QByteArray()) const override { return nullptr; }
};

#include "trap_imageplugin.moc"
