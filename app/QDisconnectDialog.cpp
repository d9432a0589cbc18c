#include "QDisconnectDialog.h"

#include "KORUHVNode.h"
#include "MainWindow.h"

#include <QDialogButtonBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

QDisconnectDialog::QDisconnectDialog(QWidget *parent)
    : QDialog(parent), mainWindow(qobject_cast<MainWindow *>(parent))
{
    setObjectName(QStringLiteral("QDisconnectDialog"));
    setWindowTitle(QStringLiteral("QDisconnectDialog"));
    resize(400, 300);
    setAttribute(Qt::WA_DeleteOnClose);
    auto *verticalLayout = new QVBoxLayout(this);
    views = new QGroupBox(QStringLiteral("Views"), this);
    views->setObjectName(QStringLiteral("views"));
    verticalLayout->addWidget(views);
    auto *horizontalLayout = new QHBoxLayout;
    horizontalLayout->addSpacerItem(new QSpacerItem(40, 20, QSizePolicy::Expanding, QSizePolicy::Minimum));
    buttonBox = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttonBox->setObjectName(QStringLiteral("buttonBox"));
    horizontalLayout->addWidget(buttonBox);
    verticalLayout->addLayout(horizontalLayout);
    connect(buttonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(buttonBox, &QDialogButtonBox::accepted, this, &QDisconnectDialog::okButtonClicked);
    buttonBox->button(QDialogButtonBox::Ok)->setEnabled(false);
    createSystemInterfacesWidgets();
}

void QDisconnectDialog::createSystemInterfacesWidgets()
{
    if (!mainWindow)
        return;
    auto *layout = new QVBoxLayout;
    layout->setAlignment(Qt::AlignTop);
    QList<QRadioButton *> buttons;
    auto *all = new QRadioButton(QStringLiteral("All boards"));
    all->setProperty("idx", -1);
    buttons << all;
    const QVector<QSystemInterface *> list = mainWindow->getSysInterfaceVector();
    for (int i = 0; i < list.size(); ++i) {
        KORUHVNode *node = list[i]->getSystemNode();
        if (list[i]->getSysType() != KORUHV_SYSTYPE_W38XX || !node || node->getNodeType() != NODE_SYSTEM)
            continue;
        QString text = node->getNodeName();
        const QVector<KORUHVNode *> boards = node->getChildren();
        if (!boards.isEmpty()) {
            QString init = boards.first()->getInitParam();
            const QStringList parts = init.split(QLatin1Char('_'));
            if (parts.size() == 3)
                init = QStringLiteral("[0x%0]").arg(parts[2]);
            text += QStringLiteral(" - ") + boards.first()->getBdModel() + QStringLiteral(" - ") +
                    QStringLiteral(" - ") + init;
        }
        auto *b = new QRadioButton(text);
        b->setProperty("idx", i);
        buttons << b;
    }
    for (QRadioButton *b : buttons) {
        b->setAutoExclusive(true);
        b->setChecked(false);
        b->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
        b->setStyleSheet(QStringLiteral("padding-left: 10px;"));
        connect(b, &QRadioButton::clicked, this, &QDisconnectDialog::radioButtonClicked);
        layout->addWidget(b);
    }
    views->setLayout(layout);
    views->setMaximumHeight(views->sizeHint().height());
    setMaximumHeight(sizeHint().height());
}

void QDisconnectDialog::radioButtonClicked()
{
    if (QObject *s = sender())
        selectedIndex = s->property("idx").toInt();
    buttonBox->button(QDialogButtonBox::Ok)->setEnabled(true);
}

void QDisconnectDialog::okButtonClicked()
{
    if (mainWindow) {
        hide();
        if (selectedIndex == -1) {
            const QList<QRadioButton *> buttons = views->findChildren<QRadioButton *>();
            for (int i = buttons.size() - 1; i >= 0; --i) {
                const int idx = buttons[i]->property("idx").toInt();
                if (idx >= 0)
                    mainWindow->disconnectDialogCallback(idx);
            }
        } else {
            mainWindow->disconnectDialogCallback(selectedIndex);
        }
    }
    accept();
}
