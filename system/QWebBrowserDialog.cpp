#include "QWebBrowserDialog.h"

#include "SysDialogTexts.h"
#include "WebEngineSupport.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QProgressBar>
#include <QPushButton>
#include <QSpacerItem>
#include <QVBoxLayout>
#include <QWebEngineProfile>
#include <QWebEngineSettings>
#include <QWebEngineUrlRequestInfo>
#include <QWebEngineView>

QMainframeOnlyInterceptor::QMainframeOnlyInterceptor(const QUrl &o, QObject *parent)
    : QWebEngineUrlRequestInterceptor(parent), origin(o)
{
}

void QMainframeOnlyInterceptor::interceptRequest(QWebEngineUrlRequestInfo &info)
{
    if (!sysdlg::sameOrigin(info.requestUrl(), origin))
        info.block(true);
}

QCustomWebPage::QCustomWebPage(QWebEngineProfile *profile, const QUrl &o, QObject *parent)
    : QWebEnginePage(profile, parent), origin(o)
{
}

bool QCustomWebPage::acceptNavigationRequest(const QUrl &target, NavigationType, bool)
{
    return sysdlg::sameOrigin(target, origin);
}

QWebEnginePage *QCustomWebPage::createWindow(WebWindowType)
{
    return nullptr;
}

QWebBrowserDialog::QWebBrowserDialog(QString startUrl, QString userName, QString pass, QWidget *parent)
    : QDialog(parent)
{
    if (objectName().isEmpty())
        setObjectName(QStringLiteral("QWebBrowserDialog"));
    resize(550, 600);
    setWindowTitle(tr("Settings"));
    auto *verticalLayout = new QVBoxLayout(this);
    verticalLayout->setSpacing(6);
    verticalLayout->setContentsMargins(9, 9, 9, 9);
    frame = new QFrame(this);
    frame->setObjectName(QStringLiteral("frame"));
    frame->setFrameShape(QFrame::Box);
    frame->setFrameShadow(QFrame::Plain);
    auto *verticalLayout_2 = new QVBoxLayout(frame);
    verticalLayout_2->setSpacing(0);
    verticalLayout_2->setContentsMargins(0, 0, 0, 0);
    auto *horizontalLayout_2 = new QHBoxLayout();
    horizontalLayout_2->setSpacing(6);
    horizontalLayout_2->setContentsMargins(-1, 6, -1, 6);
    horizontalLayout_2->addItem(new QSpacerItem(40, 20, QSizePolicy::Expanding, QSizePolicy::Minimum));
    progressbar = new QProgressBar(frame);
    progressbar->setObjectName(QStringLiteral("progressbar"));
    progressbar->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    progressbar->setAlignment(Qt::AlignCenter);
    horizontalLayout_2->addWidget(progressbar);
    horizontalLayout_2->addItem(new QSpacerItem(40, 20, QSizePolicy::Expanding, QSizePolicy::Minimum));
    verticalLayout_2->addLayout(horizontalLayout_2);
    webView = new QWebEngineView(frame);
    webView->setObjectName(QStringLiteral("webView"));
    verticalLayout_2->addWidget(webView);
    verticalLayout->addWidget(frame);
    auto *horizontalLayout = new QHBoxLayout();
    horizontalLayout->setSpacing(0);
    horizontalLayout->setContentsMargins(-1, 0, -1, 0);
    horizontalLayout->addItem(new QSpacerItem(40, 20, QSizePolicy::Expanding, QSizePolicy::Minimum));
    closeButton = new QPushButton(tr("Close"), this);
    closeButton->setObjectName(QStringLiteral("closeButton"));
    closeButton->setSizePolicy(QSizePolicy::Minimum, QSizePolicy::Fixed);
    closeButton->setAutoDefault(true);
    horizontalLayout->addWidget(closeButton);
    verticalLayout->addLayout(horizontalLayout);
    connect(closeButton, &QPushButton::clicked, this, &QDialog::close);

    setAttribute(Qt::WA_DeleteOnClose);
    setWindowFlags(Qt::Dialog | Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint |
                   Qt::WindowCloseButtonHint);
    url = startUrl;
    user = userName;
    password = pass;

    const QUrl origin(startUrl);
    /* No storage name: off the record, nothing written to disk. */
    profile = new QWebEngineProfile(this);
    profile->setHttpUserAgent(QString::fromLatin1(sysdlg::kWebUserAgent));
    profile->setHttpCacheType(QWebEngineProfile::MemoryHttpCache);
    profile->setPersistentCookiesPolicy(QWebEngineProfile::NoPersistentCookies);
    profile->setUrlRequestInterceptor(new QMainframeOnlyInterceptor(origin, profile));
    page = new QCustomWebPage(profile, origin, nullptr);
    page->settings()->setAttribute(QWebEngineSettings::JavascriptEnabled, true);
    page->settings()->setAttribute(QWebEngineSettings::PluginsEnabled, false);
    page->settings()->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, false);
    webView->setPage(page);
    startAddress = origin;
    connect(page, &QWebEnginePage::renderProcessTerminated, this, &QWebBrowserDialog::renderProcessEnded);
    connect(webView, &QWebEngineView::loadStarted, this, &QWebBrowserDialog::startLoading);
    connect(webView, &QWebEngineView::loadFinished, this, &QWebBrowserDialog::finishLoading);

    progressbar->hide();
    progressbar->setTextVisible(true);
    progressbar->setFormat(QStringLiteral("Loading..."));
    progressbar->setRange(0, 0);
}

QWebBrowserDialog::~QWebBrowserDialog()
{
    /* The page goes before its profile (a child of this dialog). */
    disconnect(webView, nullptr, this, nullptr);
    disconnect(page, nullptr, this, nullptr);
    delete page;
    page = nullptr;
}

void QWebBrowserDialog::loadUrl()
{
    webView->hide();
    progressbar->show();
    webView->load(QUrl(url, QUrl::StrictMode));
}

void QWebBrowserDialog::startLoading()
{
    progressbar->show();
}

void QWebBrowserDialog::finishLoading()
{
    /* A state, not a look at the address: a host may itself be named
     * "session_login.cgi". */
    if (loginRequested) {
        progressbar->hide();
        webView->show();
        disconnect(webView, &QWebEngineView::loadStarted, this, &QWebBrowserDialog::startLoading);
        disconnect(webView, &QWebEngineView::loadFinished, this, &QWebBrowserDialog::finishLoading);
        return;
    }
    url = sysdlg::webLoginUrl(QUrl(url), user, password).toString(QUrl::FullyEncoded);
    loginRequested = true;
    loadUrl();
}

void QWebBrowserDialog::renderProcessEnded()
{
    const QString reason = QStringLiteral("the web engine's page process ended");
    qWarning("LUMO2020: web interface of %s closed: %s", qPrintable(startAddress.toString()),
             qPrintable(reason));
    /* Once per window: the view is not used again. */
    disconnect(page, &QWebEnginePage::renderProcessTerminated, this, &QWebBrowserDialog::renderProcessEnded);
    webengine::showAddressInstead(startAddress, reason);
    close();
}
