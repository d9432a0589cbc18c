/* The rack supply's 48 V state through the live event path: the "48V Pw"
 * lamp and the "48V PW" button read the AC/DC status word one way (bit 0)
 * when the panel is built and at every live value, so after a trip or
 * another client's command button and supply agree and the next click asks
 * the right question; a value that arrives while the question is open wins
 * over the state before the click. */
#include "KORUHVConfig.h"
#include "KORUHVNode.h"
#include "QSystemInformations.h"
#include "SystemPanelLayout.h"
#include "shell_fixture.h"

#include <QAbstractButton>
#include <QLabel>
#include <QMessageBox>
#include <QPixmap>
#include <QPushButton>
#include <QTest>
#include <QTimer>

namespace {

using syspanel::Cmd;
using syspanel::Lamp;

constexpr int kEventSocket = 61;

fakehv::System rack(uint16_t acdcStatus)
{
    fakehv::System s;
    s.props.push_back({"FrontPanOut", {fakehv::SYSPROP_U16, 0, fakehv::Raw::u16(0)}});
    s.props.push_back({"ACDCPwr", {fakehv::SYSPROP_U16, 2, fakehv::Raw::u16(0)}});
    s.props.push_back({"ACDCStatus", {fakehv::SYSPROP_U16, 0, fakehv::Raw::u16(acdcStatus)}});
    s.eventDataSocket = kEventSocket;
    return s;
}

bool lampShows(const QLabel *lamp, Lamp picture)
{
    return lamp && lamp->property("lamp").toString() == syspanel::lampPicture(picture) &&
           lamp->pixmap().toImage() == QPixmap(syspanel::lampPicture(picture)).toImage();
}

/* Checked and grey when on, unchecked and green when off. */
bool buttonShows(const QPushButton *pw, bool on)
{
    return pw->isChecked() == on && pw->styleSheet().contains(QLatin1String(on ? "#9d9d9d" : "#7fec2f"));
}

/* Answers the next question box once `before` has run while it is open and
 * `ready` holds; records the question. Bounded. */
class Answerer : public QObject {
public:
    Answerer(QMessageBox::StandardButton a, std::function<void()> b = {}, std::function<bool()> r = {})
        : answer(a), before(std::move(b)), ready(std::move(r))
    {
        connect(&timer, &QTimer::timeout, this, [this]() {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box || ++polls > 3000)
                return;
            if (question.isEmpty()) {
                question = box->text();
                if (before)
                    before();
            }
            if (ready && !ready())
                return;
            box->button(answer)->click();
            timer.stop();
        });
        timer.start(10);
    }
    QString question;

private:
    QMessageBox::StandardButton answer;
    std::function<void()> before;
    std::function<bool()> ready;
    QTimer timer;
    int polls = 0;
};

} // namespace

TEST(Pw48Reading, BitZeroOfTheStatusWordAlone)
{
    struct Case {
        unsigned word;
        bool on;
    } cases[] = {{0x0, false}, {0x1, true},     {0x2, false},    {0x3, true},   {0x4, false},
                 {0x5, true},  {0x8000, false}, {0xFFFE, false}, {0xFFFF, true}};
    for (const Case &c : cases) {
        EXPECT_EQ(syspanel::pw48IsOn(c.word), c.on) << c.word;
        EXPECT_EQ(syspanel::pw48Lamp(c.word), c.on ? Lamp::On : Lamp::Off) << c.word;
    }
}

class Pw48LiveTest : public ShellTest {
protected:
    void open(uint16_t acdcStatus)
    {
        ASSERT_EQ(connect(QStringLiteral("10.0.0.5"), QStringLiteral("Rack"), rack(acdcStatus), 16), 0);
        sys = window->getSysInterfaceVector()[0];
        panel = sys->getSystemInfoWidget();
        ASSERT_NE(panel, nullptr);
        pw = panel->commandButton(Cmd::Pw48);
        ASSERT_NE(pw, nullptr);
        ASSERT_NE(panel->pw48Led, nullptr);
        status = KORUHVConfig::KORUHVConfigGetNodeFromItemId(sys->getSystemNode(),
                                                             QStringLiteral("ACDCStatus"), -1, -1);
        ASSERT_NE(status, nullptr);
    }
    /* A live value of the status word through the event reader. */
    void live(uint16_t word)
    {
        fakehv::queueEvents(kEventSocket,
                            {fakehv::valueEvent(0, -1, -1, "ACDCStatus", fakehv::Raw::u16(word))});
    }
    bool holds(uint16_t word) const { return status->getNodeValue().KORUHVGetValue().toUInt() == word; }
    bool shows(bool on) const
    {
        return lampShows(panel->pw48Led, on ? Lamp::On : Lamp::Off) && buttonShows(pw, on);
    }
    std::vector<fakehv::Call> acdcPwrWrites() const
    {
        std::vector<fakehv::Call> w;
        for (const auto &c : fakehv::callsOf("KORUHV_SetSysProp"))
            if (c.name == "ACDCPwr")
                w.push_back(c);
        return w;
    }

    QSystemInterface *sys = nullptr;
    QSystemInformations *panel = nullptr;
    QPushButton *pw = nullptr;
    KORUHVNode *status = nullptr;
};

/* Every word shows the same at build and live, lamp and button alike. */
TEST_F(Pw48LiveTest, TheSameReadingAtBuildAndLive)
{
    const uint16_t words[] = {0x0, 0x1, 0x2, 0x4, 0x5, 0xFFFE, 0xFFFF};
    for (uint16_t word : words) {
        const bool on = syspanel::pw48IsOn(word);
        open(word);
        EXPECT_TRUE(shows(on)) << "built from " << word;
        // Live: the opposite reading first, then the word again.
        live(on ? 0 : 1);
        ASSERT_TRUE(waitUntil([&] { return shows(!on); }, 60000)) << "live opposite of " << word;
        live(word);
        ASSERT_TRUE(waitUntil([&] { return holds(word); }, 60000));
        QCoreApplication::processEvents();
        EXPECT_TRUE(shows(on)) << "live " << word;
        TearDown();
        SetUp();
    }
}

TEST_F(Pw48LiveTest, AfterATripAndAnotherClientsCommandTheClickAsksTheRightQuestion)
{
    open(1);
    ASSERT_TRUE(shows(true));
    // The supply trips: the word's bit 0 clears while another bit stays.
    live(0x4);
    ASSERT_TRUE(waitUntil([&] { return shows(false); }, 60000));
    {
        Answerer no(QMessageBox::No);
        QTest::mouseClick(pw, Qt::LeftButton);
        EXPECT_EQ(no.question, QStringLiteral("You are powering ON the 48V"));
    }
    EXPECT_TRUE(shows(false));
    EXPECT_TRUE(acdcPwrWrites().empty());

    // Another client switches it on again.
    live(0x5);
    ASSERT_TRUE(waitUntil([&] { return shows(true); }, 60000));
    {
        Answerer yes(QMessageBox::Yes);
        QTest::mouseClick(pw, Qt::LeftButton);
        EXPECT_EQ(yes.question, QStringLiteral("You are powering OFF the 48V"));
    }
    const auto writes = acdcPwrWrites();
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].value.asU16(), 0);
    EXPECT_FALSE(pw->isChecked());
}

/* Declined while a live value says the supply went on: the button shows the
 * supply, not the state before the click. */
TEST_F(Pw48LiveTest, AValueThatComesWhileTheQuestionIsOpenWins)
{
    open(0);
    {
        Answerer no(
            QMessageBox::No, [this] { live(1); }, [this] { return holds(1); });
        QTest::mouseClick(pw, Qt::LeftButton);
        EXPECT_EQ(no.question, QStringLiteral("You are powering ON the 48V"));
    }
    QCoreApplication::processEvents();
    EXPECT_TRUE(shows(true));
    EXPECT_TRUE(acdcPwrWrites().empty());
    // The next click asks to switch it off.
    Answerer no(QMessageBox::No);
    QTest::mouseClick(pw, Qt::LeftButton);
    EXPECT_EQ(no.question, QStringLiteral("You are powering OFF the 48V"));
    EXPECT_TRUE(shows(true));
}
