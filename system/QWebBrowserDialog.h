/* The mainframe's own web configuration pages in a window: the start page,
 * then the login page with the connection's user name and password, then the
 * logged-in pages. The view stays on the mainframe: requests to any other
 * scheme, host or port are blocked, new windows are not opened, and nothing
 * is handed to the desktop's browser. Each window has its own off-the-record
 * profile (nothing kept on disk) that announces the program's user agent. */
#ifndef QWEBBROWSERDIALOG_H
#define QWEBBROWSERDIALOG_H

#include <QDialog>
#include <QString>
#include <QUrl>
#include <QWebEnginePage>
#include <QWebEngineUrlRequestInterceptor>

class QWebEngineProfile;
class QWebEngineView;
class QProgressBar;
class QPushButton;
class QFrame;

/* Blocks every request that leaves the allowed origin. */
class QMainframeOnlyInterceptor : public QWebEngineUrlRequestInterceptor {
    Q_OBJECT
public:
    QMainframeOnlyInterceptor(const QUrl &origin, QObject *parent);
    void interceptRequest(QWebEngineUrlRequestInfo &info) override;

private:
    const QUrl origin;
};

/* A page that navigates only within the origin and opens no windows. */
class QCustomWebPage : public QWebEnginePage {
    Q_OBJECT
public:
    QCustomWebPage(QWebEngineProfile *profile, const QUrl &origin, QObject *parent);

protected:
    bool acceptNavigationRequest(const QUrl &url, NavigationType type, bool isMainFrame) override;
    QWebEnginePage *createWindow(WebWindowType type) override;

private:
    const QUrl origin;
};

class QWebBrowserDialog : public QDialog {
    Q_OBJECT
public:
    /* url: the start address ("http://" + the system's address). */
    QWebBrowserDialog(QString url, QString user, QString password, QWidget *parent = nullptr);
    ~QWebBrowserDialog() override;

    void loadUrl();
    /* The address loaded last (tests). */
    QString currentUrl() const { return url; }
    QWebEngineView *view() const { return webView; }

public Q_SLOTS:
    void startLoading();
    void finishLoading();

private Q_SLOTS:
    /* The engine's page process ended under the view: the address instead
     * of a blank window. Without the signal's arguments: the engine may
     * hand a status outside its own enumeration (a process that could not
     * be started). */
    void renderProcessEnded();

private:
    QFrame *frame = nullptr;
    QProgressBar *progressbar = nullptr;
    QWebEngineView *webView = nullptr;
    QPushButton *closeButton = nullptr;
    QWebEngineProfile *profile = nullptr;
    QCustomWebPage *page = nullptr;
    QUrl startAddress;
    QString url;
    QString user;
    QString password;
    bool loginRequested = false;
};

#endif
