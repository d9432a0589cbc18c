/* The form of the script dialog, built in code: Save/Open buttons and the
 * wizard button on top, the script editor, then Check, Start and Close. */
#ifndef UI_QSCRIPTDIALOG_H
#define UI_QSCRIPTDIALOG_H

#include <QCoreApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QSpacerItem>
#include <QTextEdit>
#include <QVBoxLayout>

class Ui_QScriptDialog {
public:
    QVBoxLayout *verticalLayout = nullptr;
    QHBoxLayout *horizontalLayout = nullptr;
    QDialogButtonBox *buttonBoxSaveOpen = nullptr;
    QSpacerItem *horizontalSpacer_3 = nullptr;
    QPushButton *wizButton = nullptr;
    QSpacerItem *horizontalSpacer_2 = nullptr;
    QTextEdit *actionsEdit = nullptr;
    QHBoxLayout *horizontalLayout_2 = nullptr;
    QSpacerItem *horizontalSpacer = nullptr;
    QPushButton *buildButton = nullptr;
    QPushButton *startButton = nullptr;
    QSpacerItem *horizontalSpacer_4 = nullptr;
    QPushButton *closeButton = nullptr;

    void setupUi(QDialog *dialog)
    {
        if (dialog->objectName().isEmpty())
            dialog->setObjectName(QStringLiteral("QScriptDialog"));
        dialog->resize(718, 441);
        verticalLayout = new QVBoxLayout(dialog);
        verticalLayout->setSpacing(6);
        verticalLayout->setContentsMargins(11, 11, 11, 11);
        verticalLayout->setObjectName(QStringLiteral("verticalLayout"));

        horizontalLayout = new QHBoxLayout();
        horizontalLayout->setSpacing(6);
        horizontalLayout->setObjectName(QStringLiteral("horizontalLayout"));
        const QMargins def = horizontalLayout->contentsMargins();
        horizontalLayout->setContentsMargins(def.left(), 2, 0, 2);
        buttonBoxSaveOpen = new QDialogButtonBox(dialog);
        buttonBoxSaveOpen->setObjectName(QStringLiteral("buttonBoxSaveOpen"));
        buttonBoxSaveOpen->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
        buttonBoxSaveOpen->setStandardButtons(QDialogButtonBox::Save | QDialogButtonBox::Open);
        horizontalLayout->addWidget(buttonBoxSaveOpen);
        horizontalSpacer_3 = new QSpacerItem(40, 20, QSizePolicy::Fixed, QSizePolicy::Minimum);
        horizontalLayout->addItem(horizontalSpacer_3);
        wizButton = new QPushButton(dialog);
        wizButton->setObjectName(QStringLiteral("wizButton"));
        horizontalLayout->addWidget(wizButton);
        horizontalSpacer_2 = new QSpacerItem(40, 20, QSizePolicy::Expanding, QSizePolicy::Minimum);
        horizontalLayout->addItem(horizontalSpacer_2);
        verticalLayout->addLayout(horizontalLayout);

        actionsEdit = new QTextEdit(dialog);
        actionsEdit->setObjectName(QStringLiteral("actionsEdit"));
        QFont font(QStringLiteral("Courier New"));
        font.setPointSize(10);
        actionsEdit->setFont(font);
        actionsEdit->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        verticalLayout->addWidget(actionsEdit);

        horizontalLayout_2 = new QHBoxLayout();
        horizontalLayout_2->setSpacing(6);
        horizontalLayout_2->setObjectName(QStringLiteral("horizontalLayout_2"));
        const QMargins def2 = horizontalLayout_2->contentsMargins();
        horizontalLayout_2->setContentsMargins(def2.left(), 10, def2.right(), def2.bottom());
        horizontalSpacer = new QSpacerItem(40, 20, QSizePolicy::Expanding, QSizePolicy::Minimum);
        horizontalLayout_2->addItem(horizontalSpacer);
        buildButton = new QPushButton(dialog);
        buildButton->setObjectName(QStringLiteral("buildButton"));
        horizontalLayout_2->addWidget(buildButton);
        startButton = new QPushButton(dialog);
        startButton->setObjectName(QStringLiteral("startButton"));
        horizontalLayout_2->addWidget(startButton);
        horizontalSpacer_4 = new QSpacerItem(20, 20, QSizePolicy::Fixed, QSizePolicy::Minimum);
        horizontalLayout_2->addItem(horizontalSpacer_4);
        closeButton = new QPushButton(dialog);
        closeButton->setObjectName(QStringLiteral("closeButton"));
        horizontalLayout_2->addWidget(closeButton);
        verticalLayout->addLayout(horizontalLayout_2);

        retranslateUi(dialog);
        QObject::connect(closeButton, &QPushButton::clicked, dialog, &QDialog::close);
    }

    void retranslateUi(QDialog *dialog)
    {
        dialog->setWindowTitle(QCoreApplication::translate("QScriptDialog", "Create Script"));
        wizButton->setText(QCoreApplication::translate("QScriptDialog", "Wizard.."));
        actionsEdit->setHtml(QStringLiteral(
            "<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.0//EN\" "
            "\"http://www.w3.org/TR/REC-html40/strict.dtd\">\n"
            "<html><head><meta name=\"qrichtext\" content=\"1\" /><style type=\"text/css\">\n"
            "p, li { white-space: pre-wrap; }\n"
            "</style></head><body style=\" font-family:'Courier New'; font-size:10pt; font-weight:400; "
            "font-style:normal;\">\n"
            "<p style=\"-qt-paragraph-type:empty; margin-top:10px; margin-bottom:10px; margin-left:10px; "
            "margin-right:10px; -qt-block-indent:0; text-indent:0px;\"><br /></p></body></html>"));
        buildButton->setText(QCoreApplication::translate("QScriptDialog", "Check"));
        startButton->setText(QCoreApplication::translate("QScriptDialog", "Start"));
        closeButton->setText(QCoreApplication::translate("QScriptDialog", "Close"));
    }
};

#endif
