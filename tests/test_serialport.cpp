// The serial transport over a real pseudo-terminal pair: the far end is the
// master side, so speeds, line settings and bytes are seen as a unit sees them.
#include <QElapsedTimer>
#include <QSerialPort>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <memory>

#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include "support/modalanswerer.h"
#include "app/warningbox.h"
#include "serial/lowlatency.h"
#include "serial/serialport.h"
#include "tools/unitsim/ptyline.h"

namespace {
const int kSettleMs = 150;

void settle(int ms = kSettleMs)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

// Terminal settings of the line as the tool left them (both pty sides share them).
termios lineSettings(const QString &slavePath)
{
    termios settings {};
    const int fd = ::open(slavePath.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd >= 0) {
        ::tcgetattr(fd, &settings);
        ::close(fd);
    }
    return settings;
}

// Counts the byte-trace lines about low latency while one lives; the trace
// is turned on here whatever QT_LOGGING_RULES says.
struct latencyNotes
{
    static inline int count = 0;
    static void take(QtMsgType, const QMessageLogContext &context, const QString &text)
    {
        count += qstrcmp(context.category, "ups.serial") == 0 && text.contains(QLatin1String("low latency"));
    }
    static void traceOn(QLoggingCategory *category)
    {
        if (qstrcmp(category->categoryName(), "ups.serial") == 0)
            category->setEnabled(QtDebugMsg, true);
    }
    latencyNotes() { count = 0; }
    ~latencyNotes()
    {
        qInstallMessageHandler(handler);
        QLoggingCategory::installFilter(filter);
    }
    QLoggingCategory::CategoryFilter filter = QLoggingCategory::installFilter(&traceOn);
    QtMessageHandler handler = qInstallMessageHandler(&take);
};

// A serial driver as the ioctl calls of low latency see it.
struct fakeDriver
{
    int flags = 0;
    int getError = 0;
    int setError = 0;

    int control(unsigned long request, void *argument)
    {
        auto *settings = static_cast<serial_struct *>(argument);
        const int error = request == TIOCGSERIAL ? getError : setError;
        if (error != 0) {
            errno = error;
            return -1;
        }
        if (request == TIOCGSERIAL)
            settings->flags = flags;
        else
            flags = settings->flags;
        return 0;
    }
};

QByteArray bytesOf(const QList<QList<QVariant>> &emissions)
{
    QByteArray all;
    for (const auto &args : emissions)
        all += args.at(0).toByteArray();
    return all;
}
} // namespace

class TestSerialport : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void opensAtRequestedSpeed_data();
    void opensAtRequestedSpeed();
    void lineSettingsAre8N1WithoutFlowControl();
    void bytesTravelBothWays();
    void routesByLatestModelId_data();
    void routesByLatestModelId();
    void failedOpenWarns_data();
    void failedOpenWarns();
    void failureTextSaysWhy_data();
    void failureTextSaysWhy();
    void replaceablePresenterTakesWarnings();
    void writesNothing_data();
    void writesNothing();
    void vanishedPeerClosesOnceWithoutFlood();
    void oneDeviceOnePort_data();
    void oneDeviceOnePort();
    void lowLatencyRefusedOnPtyToldOnce();
    void lowLatencyThroughDriver_data();
    void lowLatencyThroughDriver();

private:
    // The spelling of the pty's node that a row names: the node itself, or
    // one of two links to it in `dir`.
    QString spelling(const QString &name, const QTemporaryDir &dir) const;

    ptyLine *line = nullptr;
    serialport *port = nullptr;
};

void TestSerialport::init()
{
    qRegisterMetaType<QSerialPort::SerialPortError>();
    line = new ptyLine(this);
    QVERIFY(line->open());
    port = new serialport(this);
}

void TestSerialport::cleanup()
{
    delete port;
    port = nullptr;
    delete line;
    line = nullptr;
}

void TestSerialport::opensAtRequestedSpeed_data()
{
    QTest::addColumn<QList<int>>("bauds");

    QTest::newRow("first open at handshake speed") << QList<int> {2400};
    QTest::newRow("reopen moves an open port to data speed") << QList<int> {2400, 9600};
    QTest::newRow("reopen can go back down") << QList<int> {9600, 2400};
}

void TestSerialport::opensAtRequestedSpeed()
{
    QFETCH(QList<int>, bauds);
    for (int baud : bauds) {
        QVERIFY(port->openSerialPort(0, line->slavePath(), baud));
        QVERIFY(port->isOpen());
        QCOMPARE(line->baud(), baud);
        QCOMPARE(port->baudRate(), baud);
    }
}

void TestSerialport::lineSettingsAre8N1WithoutFlowControl()
{
    QVERIFY(port->openSerialPort(0, line->slavePath(), 9600));
    const termios settings = lineSettings(line->slavePath());
    QCOMPARE(settings.c_cflag & CSIZE, tcflag_t(CS8));
    QCOMPARE(settings.c_cflag & PARENB, tcflag_t(0));
    QCOMPARE(settings.c_cflag & CSTOPB, tcflag_t(0));
    QCOMPARE(settings.c_cflag & CRTSCTS, tcflag_t(0));
    QCOMPARE(settings.c_iflag & (IXON | IXOFF), tcflag_t(0));
}

void TestSerialport::bytesTravelBothWays()
{
    QSignalSpy atUnit(line, &ptyLine::received);
    QSignalSpy atTool(port, &serialport::receive);
    QVERIFY(port->openSerialPort(0, line->slavePath(), 9600));

    const QByteArray toUnit("\x02\x11\x10\x22\x00\xff\x03", 7);
    port->sendCmdData(reinterpret_cast<const quint8 *>(toUnit.constData()), ushort(toUnit.size()));
    QTRY_COMPARE(bytesOf(atUnit), toUnit);

    const QByteArray toTool("\x06\x00\x80\x7f", 4);
    QVERIFY(line->write(toTool));
    QTRY_COMPARE(bytesOf(atTool), toTool);
}

void TestSerialport::routesByLatestModelId_data()
{
    QTest::addColumn<QList<int>>("openIds");
    QTest::addColumn<bool>("lastOpenFails");
    QTest::addColumn<bool>("expectFirstSignal");

    QTest::newRow("model 0 goes to the first engine") << QList<int> {0} << false << true;
    QTest::newRow("model 1 goes to the second engine") << QList<int> {1} << false << false;
    QTest::newRow("any other id goes to the second engine") << QList<int> {7} << false << false;
    QTest::newRow("latest open wins over an earlier one") << QList<int> {1, 0} << false << true;
    QTest::newRow("failed open still keeps the new id") << QList<int> {0, 1} << true << false;
}

void TestSerialport::routesByLatestModelId()
{
    QFETCH(QList<int>, openIds);
    QFETCH(bool, lastOpenFails);
    QFETCH(bool, expectFirstSignal);

    modalAnswerer answerer;
    answerer.start();
    for (int i = 0; i < openIds.size(); ++i) {
        const bool failing = lastOpenFails && i == openIds.size() - 1;
        const QString name = failing ? QStringLiteral("/nonexistent/ttyGone") : line->slavePath();
        QCOMPARE(port->openSerialPort(openIds.at(i), name, 2400), !failing);
    }
    QCOMPARE(port->modelId(), openIds.last());

    QSignalSpy first(port, &serialport::receive);
    QSignalSpy second(port, &serialport::receive1);
    if (lastOpenFails) {
        // The line is closed now; route an empty read directly.
        QTest::ignoreMessage(QtWarningMsg, "QIODevice::read (QSerialPort): device not open");
        port->receiveData();
    } else {
        QVERIFY(line->write(QByteArray("\x55\xaa", 2)));
        QTRY_VERIFY(first.count() + second.count() > 0);
    }
    QCOMPARE(first.isEmpty(), !expectFirstSignal);
    QCOMPARE(second.isEmpty(), expectFirstSignal);
}

void TestSerialport::failedOpenWarns_data()
{
    QTest::addColumn<QString>("portName");
    QTest::addColumn<bool>("openBefore");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("idAfter");
    QTest::addColumn<bool>("openAfter");

    QTest::newRow("no port name, port closed") << QString() << false << "no port" << 3 << false;
    QTest::newRow("no port name keeps an open port") << QString() << true << "no port" << 3 << true;
    const QString missing = "opening failed! /nonexistent/ttyGone: No such file or directory";
    QTest::newRow("device missing: the port and the system's reason")
        << "/nonexistent/ttyGone" << false << missing << 1 << false;
    QTest::newRow("device missing closes the open port") << "/nonexistent/ttyGone" << true << missing << 1 << false;
}

void TestSerialport::failedOpenWarns()
{
    QFETCH(QString, portName);
    QFETCH(bool, openBefore);
    QFETCH(QString, text);
    QFETCH(int, idAfter);
    QFETCH(bool, openAfter);

    if (openBefore) {
        QVERIFY(port->openSerialPort(3, line->slavePath(), 2400));
    } else {
        // A silent failed open gives the closed port the id 3.
        port->setWarningPresenter([](const QString &) {});
        port->openSerialPort(3, QStringLiteral("/nonexistent/ttyPrep"), 2400);
    }
    port->setWarningPresenter(&warningBox::show);
    QCOMPARE(port->modelId(), 3);

    modalAnswerer answerer;
    answerer.start();
    QVERIFY(!port->openSerialPort(1, portName, 9600));
    answerer.stop();

    QCOMPARE(answerer.boxes().size(), 1);
    const modalAnswerer::Box box = answerer.boxes().first();
    QCOMPARE(box.title, QStringLiteral("warn"));
    QCOMPARE(box.text, text);
    QCOMPARE(box.buttons, QStringList {QStringLiteral("sure")});
    QCOMPARE(port->modelId(), idAfter);
    QCOMPARE(port->isOpen(), openAfter);
}

// Only a permission error gets the fix, and only where the fix is a group.
void TestSerialport::failureTextSaysWhy_data()
{
    QTest::addColumn<int>("error");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<bool>("fix");

    QTest::newRow("permission: the fix") << int(QSerialPort::PermissionError) << "Permission denied" << true;
    QTest::newRow("missing device: no fix")
        << int(QSerialPort::DeviceNotFoundError) << "No such file or directory" << false;
    QTest::newRow("other trouble: no fix") << int(QSerialPort::OpenError) << "Device or resource busy" << false;
}

void TestSerialport::failureTextSaysWhy()
{
    QFETCH(int, error);
    QFETCH(QString, reason);
    QFETCH(bool, fix);

    const QString text = serialport::openFailureText("/dev/ttyUSB0", QSerialPort::SerialPortError(error), reason);
    QVERIFY2(text.startsWith("opening failed! /dev/ttyUSB0: " + reason), qPrintable(text));
#ifdef Q_OS_LINUX
    QCOMPARE(text.contains("sudo usermod -aG dialout $USER"), fix);
#else
    QVERIFY(!text.contains("dialout"));
    Q_UNUSED(fix)
#endif
}

void TestSerialport::replaceablePresenterTakesWarnings()
{
    QStringList shown;
    port->setWarningPresenter([&shown](const QString &text) { shown << text; });
    modalAnswerer answerer;
    answerer.start(1000);

    QVERIFY(!port->openSerialPort(0, QString(), 2400));
    QVERIFY(!port->openSerialPort(0, QStringLiteral("/nonexistent/ttyGone"), 2400));
    settle(50);

    QCOMPARE(shown,
             (QStringList {QStringLiteral("no port"),
                           QStringLiteral("opening failed! /nonexistent/ttyGone: No such file or directory")}));
    QVERIFY(answerer.boxes().isEmpty());
}

void TestSerialport::writesNothing_data()
{
    QTest::addColumn<bool>("open");
    QTest::addColumn<int>("size");

    QTest::newRow("closed port drops the frame") << false << 5;
    QTest::newRow("size zero on an open port") << true << 0;
}

void TestSerialport::writesNothing()
{
    QFETCH(bool, open);
    QFETCH(int, size);

    QSignalSpy atUnit(line, &ptyLine::received);
    if (open)
        QVERIFY(port->openSerialPort(0, line->slavePath(), 9600));
    const quint8 frame[5] = {0x02, 0x11, 0x00, 0x00, 0x03};
    port->sendCmdData(frame, ushort(size));
    settle();
    QVERIFY(atUnit.isEmpty());
    QCOMPARE(port->isOpen(), open);
}

void TestSerialport::vanishedPeerClosesOnceWithoutFlood()
{
    QVERIFY(port->openSerialPort(0, line->slavePath(), 9600));
    auto *device = port->findChild<QSerialPort *>();
    QVERIFY(device);
    QSignalSpy errors(device, &QSerialPort::errorOccurred);
    QSignalSpy aboutToClose(device, &QIODevice::aboutToClose);
    QSignalSpy first(port, &serialport::receive);

    line->close();
    settle(300);

    QVERIFY(!port->isOpen());
    QCOMPARE(aboutToClose.count(), 1);
    QVERIFY(errors.count() >= 1);
    QVERIFY2(errors.count() <= 3, qPrintable(QString::number(errors.count())));
    QVERIFY2(first.count() <= 3, qPrintable(QString::number(first.count())));
}

QString TestSerialport::spelling(const QString &name, const QTemporaryDir &dir) const
{
    if (name == QLatin1String("node"))
        return line->slavePath();
    const QString link = dir.filePath(name);
    if (!QFileInfo(link).isSymLink())
        QFile::link(line->slavePath(), link);
    return link;
}

void TestSerialport::oneDeviceOnePort_data()
{
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("second");
    QTest::addColumn<int>("firstBaud"); // a reopen moves the first port to this speed
    QTest::addColumn<QString>("letGo"); // how the first port frees the device

    QTest::newRow("the same path twice; closed") << "node"
                                                 << "node" << 2400 << "close";
    QTest::newRow("a link and its node; destroyed") << "link-a"
                                                    << "node" << 2400 << "destroy";
    QTest::newRow("two links; opened on another device") << "link-a"
                                                         << "link-b" << 2400 << "other device";
    QTest::newRow("held across a change of speed; failed to open another port") << "node"
                                                                                << "link-a" << 9600 << "missing device";
}

// Another port object on the same device, under whatever spelling, is
// refused before it writes a byte, and the first keeps its line to itself
// until it lets go of the device.
void TestSerialport::oneDeviceOnePort()
{
    QFETCH(QString, first);
    QFETCH(QString, second);
    QFETCH(int, firstBaud);
    QFETCH(QString, letGo);
    QTemporaryDir dir;
    ptyLine elsewhere;
    QVERIFY(dir.isValid() && elsewhere.open());
    auto holder = std::make_unique<serialport>();
    holder->setWarningPresenter([](const QString &) {});
    QVERIFY(holder->openSerialPort(0, spelling(first, dir), 2400));
    QVERIFY(holder->openSerialPort(0, spelling(first, dir), firstBaud));

    QStringList shown;
    port->setWarningPresenter([&shown](const QString &text) { shown << text; });
    QSignalSpy atUnit(line, &ptyLine::received);
    const QString secondName = spelling(second, dir);
    QVERIFY(!port->openSerialPort(0, secondName, 9600));
    QCOMPARE(shown, QStringList {"opening failed! " + secondName + " is in use by another program"});
    const QByteArray toUnit("\x02\x10\x03\x00\xff", 5);
    holder->sendCmdData(reinterpret_cast<const quint8 *>(toUnit.constData()), ushort(toUnit.size()));
    QTRY_COMPARE(bytesOf(atUnit), toUnit);
    settle();
    QCOMPARE(bytesOf(atUnit), toUnit);
    QCOMPARE(line->baud(), firstBaud);

    if (letGo == QLatin1String("close"))
        holder->closeSerialPort();
    else if (letGo == QLatin1String("destroy"))
        holder.reset();
    else
        holder->openSerialPort(0, letGo == "other device" ? elsewhere.slavePath() : "/nonexistent/ttyGone", 9600);
    QVERIFY(port->openSerialPort(0, secondName, 9600));
}

// A pty has no serial settings: the line works as before, and the trace
// says so once however often the port is reopened.
void TestSerialport::lowLatencyRefusedOnPtyToldOnce()
{
    latencyNotes notes;
    QSignalSpy warnings(port, &serialport::warning);
    QSignalSpy atTool(port, &serialport::receive);
    QVERIFY(port->openSerialPort(0, line->slavePath(), 2400));
    QVERIFY(port->openSerialPort(0, line->slavePath(), 9600));
    QVERIFY(line->write(QByteArray("\x06", 1)));
    QTRY_COMPARE(bytesOf(atTool), QByteArray("\x06", 1));
    port->closeSerialPort();
    QVERIFY(port->openSerialPort(0, line->slavePath(), 2400));
    QCOMPARE(latencyNotes::count, 1);
    QCOMPARE(warnings.count(), 0);
}

void TestSerialport::lowLatencyThroughDriver_data()
{
    QTest::addColumn<int>("flags");
    QTest::addColumn<int>("getError");
    QTest::addColumn<int>("setError");
    QTest::addColumn<bool>("granted");
    QTest::addColumn<int>("flagsAfterRestore");
    const int low = ASYNC_LOW_LATENCY;
    const int other = ASYNC_SPD_HI;
    QTest::newRow("plain adapter: set, then put back") << other << 0 << 0 << true << other;
    QTest::newRow("already low: left as the user set it") << (other | low) << 0 << 0 << true << (other | low);
    QTest::newRow("no serial settings: refused, untouched") << other << ENOTTY << 0 << false << other;
    QTest::newRow("flag not allowed: refused, untouched") << other << 0 << EPERM << false << other;
}

void TestSerialport::lowLatencyThroughDriver()
{
    QFETCH(int, flags);
    QFETCH(int, getError);
    QFETCH(int, setError);
    latencyNotes notes;
    fakeDriver driver {flags, getError, setError};
    lowLatency latency(
        [&driver](int, unsigned long request, void *argument) { return driver.control(request, argument); });
    for (int open = 0; open < 2; ++open) {
        QTEST(latency.request(3, QStringLiteral("ttyUSB0")), "granted");
        QCOMPARE(bool(driver.flags & ASYNC_LOW_LATENCY), getError == 0 && setError == 0);
        latency.restore(3);
        QTEST(driver.flags, "flagsAfterRestore");
    }
    QCOMPARE(latencyNotes::count, getError || setError ? 1 : 0);
}

QTEST_MAIN(TestSerialport)
#include "test_serialport.moc"
