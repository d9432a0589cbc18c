#include "QSaveCustDialog.h"

#include "KORUHVCustomizations.h"
#include "KORUHVNode.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QPushButton>
#include <QVBoxLayout>

QSaveCustDialog::QSaveCustDialog(QWidget *parent, QVector<KORUHVNode *> systems,
                                 KORUHVCustomizations *controller)
    : QDialog(parent), controller(controller), systems(systems)
{
    setAttribute(Qt::WA_DeleteOnClose);
    resize(400, 300);
    setWindowTitle(QStringLiteral("Customization Views Selection"));
    auto *layout = new QVBoxLayout(this);
    views = new QGroupBox(QStringLiteral("Views"), this);
    views->setObjectName(QStringLiteral("views"));
    layout->addWidget(views);
    buttonBox = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttonBox->setObjectName(QStringLiteral("buttonBox"));
    layout->addWidget(buttonBox);
    connect(buttonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(buttonBox, &QDialogButtonBox::accepted, this, &QSaveCustDialog::okButtonClicked);
    buttonBox->button(QDialogButtonBox::Ok)->setEnabled(false);
    createSystemInterfacesWidgets();
}

void QSaveCustDialog::createSystemInterfacesWidgets()
{
    auto *layout = new QVBoxLayout();
    layout->setAlignment(Qt::AlignTop);
    for (KORUHVNode *root : systems) {
        if (!root) {
            delete layout;
            checkBoxes.clear();
            return;
        }
        auto *box = new QCheckBox(
            root->getNodeType() == NODE_SYSTEM ? root->getNodeName() : QStringLiteral("CustomView"), views);
        box->setChecked(true);
        buttonBox->button(QDialogButtonBox::Ok)->setEnabled(true);
        box->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
        box->setStyleSheet(QStringLiteral("padding-left: 10px;"));
        layout->addWidget(box);
        checkBoxes.append(box);
    }
    views->setLayout(layout);
    views->setMaximumHeight(views->sizeHint().height());
    setMaximumHeight(sizeHint().height());
}

void QSaveCustDialog::okButtonClicked()
{
    if (!controller)
        return;
    QVector<bool> selected;
    bool any = false;
    for (QCheckBox *box : checkBoxes) {
        selected.append(box->isChecked());
        any = any || box->isChecked();
    }
    // Closed before the file chooser opens over the main window.
    QPointer<KORUHVCustomizations> c = controller;
    accept();
    if (c)
        c->saveCustomizedViewCallback(selected, any);
}
