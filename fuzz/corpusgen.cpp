// Writes the seed corpora of the fuzz targets into DIR/<target>/: object
// files from the object-file writer (sound and spoiled), packages from the
// package writer (honest and hostile) and their SIGNATURE members (signed
// and spoiled), and the arrivals each engine really received from the
// simulated units during whole jobs, with and without faults (for the
// engines with the step they came in, for the decoders alone).
//   fuzz_corpusgen DIR
#include "protocol/first/progress.h"
#include "protocol/second/progress1.h"
#include "serial/serialport.h"
#include "tools/support/coffwriter.h"
#include "tools/support/hostileinput.h"
#include "package/packagesignature.h"
#include "tools/support/packagewriter.h"
#include "tools/unitsim/firstunit.h"
#include "tools/unitsim/secondunit.h"
#include "update/common.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <functional>

namespace {
constexpr double kTimeScale = 0.01;
constexpr int kJobLimitMs = 60000;
constexpr int kArrivalsPerSeed = 6;

QString g_out;
QTemporaryDir *g_work = nullptr;

bool save(const QString &target, const QString &name, const QByteArray &bytes)
{
    QDir().mkpath(g_out + QLatin1Char('/') + target);
    QFile file(g_out + QLatin1Char('/') + target + QLatin1Char('/') + name);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray pattern(int size, int seed)
{
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        bytes[i] = char((i * 13 + seed + i / 509) & 0xFF);
    return bytes;
}

QString writeWork(const QString &name, const QByteArray &bytes)
{
    const QString path = g_work->filePath(name);
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(bytes);
    return path;
}

// ---- object files -------------------------------------------------------------

void objectFiles()
{
    const QByteArray sample = coffWriter::sampleObjectFile(nullptr);
    save("translation", "sample-flash-build", sample);
    struct Spoil
    {
        const char *name;
        std::function<void(coffWriter &)> apply;
    };
    const QList<Spoil> spoils = {
        {"small", [](coffWriter &) {}},
        {"other-target", [](coffWriter &w) { w.setTargetId(0x0099); }},
        {"elf", [](coffWriter &w) { w.setElf(true); }},
        {"cut-in-header", [](coffWriter &w) { w.setTruncateAt(30); }},
        {"cut-in-sections", [](coffWriter &w) { w.setTruncateAt(120); }},
        {"cut-in-data", [](coffWriter &w) { w.setTruncateAt(260); }},
        {"count-too-high", [](coffWriter &w) { w.setHeaderSectionCount(9); }},
        {"count-huge", [](coffWriter &w) { w.setHeaderSectionCount(0xFFFF); }},
        {"offset-nowhere",
         [](coffWriter &w) {
             coffWriter::Section s = coffWriter::loaded(".econst", 0x3E8100, coffWriter::pattern(8, 3));
             s.dataOffsetOverride = 0x7FFFFFF0;
             w.addSection(s);
         }},
        {"overlap",
         [](coffWriter &w) { w.addSection(coffWriter::loaded(".cinit", 0x3E8004, coffWriter::pattern(8, 4))); }},
        {"wrong-start",
         [](coffWriter &w) { w.addSection(coffWriter::loaded(".x", 0x3E7000, coffWriter::pattern(4, 5))); }},
        {"huge-section",
         [](coffWriter &w) {
             coffWriter::Section s = coffWriter::loaded(".big", 0x3E9000, coffWriter::pattern(8, 6));
             s.sizeWords = 0x00FFFFFF;
             w.addSection(s);
         }},
    };
    for (const Spoil &spoil : spoils) {
        coffWriter w;
        w.addSection(coffWriter::loaded(".text", 0x3E8000, coffWriter::pattern(0x40, 1)));
        w.addSection(coffWriter::uninitialised(".ebss", 0x00C000, 0x80));
        w.addSection(coffWriter::loaded(".econst", 0x3E8100, coffWriter::pattern(0x20, 2), coffWriter::kFlagData));
        spoil.apply(w);
        save("translation", spoil.name, w.build());
    }
}

// ---- packages --------------------------------------------------------------------

void package(const QString &name, const std::function<void(packageWriter &)> &fill, const QString &damaged = QString())
{
    const QString path = g_work->filePath(name + ".zip");
    QFile::remove(path);
    {
        packageWriter w(path);
        if (!w.open())
            return;
        fill(w);
        w.close();
    }
    if (!damaged.isEmpty())
        packageWriter::damageCrc(path, damaged);
    save("package", name, readAll(path));
}

// A SIGNATURE member as signed, and spoiled the ways a damaged or forged one
// would be.
void signatureSeeds(const QString &name, const QByteArray &signature)
{
    save("signature", name, signature);
    QByteArray cut = signature;
    cut.chop(20);
    save("signature", name + "-cut", cut);
    QByteArray changed = signature;
    changed[changed.indexOf("\nmodel ") + 7] = '9';
    save("signature", name + "-model-changed", changed);
    save("signature", name + "-unsigned", signature.left(signature.lastIndexOf("\nsignature ") + 1));
}

// A package signed with the fuzz key, padded after its end so that its size
// makes the target trust that key and choose the model it was signed for.
void signedPackage(const QString &name, int model, const QList<QPair<QString, QByteArray>> &members,
                   const QList<QPair<QString, QByteArray>> &signedMembers)
{
    QList<signedMember> listing;
    for (const auto &m : signedMembers)
        listing.append(
            signedMember {m.first, m.second.size(), QCryptographicHash::hash(m.second, QCryptographicHash::Sha256)});
    const QByteArray signature = packageSignature::build(hostileInput::fuzzSecretKey(), model, listing);
    signatureSeeds(name, signature);
    const QString path = g_work->filePath(name + ".zip");
    QFile::remove(path);
    {
        packageWriter w(path);
        if (!w.open())
            return;
        for (const auto &m : members)
            w.addRaw(m.first, m.second);
        w.addRaw(packageSignature::kMemberName, signature);
        w.close();
    }
    QByteArray bytes = readAll(path);
    while (bytes.size() % 4 != 2 + model) // trusted: 2 or 3 over 4; the model: its parity
        bytes.append('\0');
    save("package", name, bytes);
}

void signedPackages(const QByteArray &arm, const QByteArray &dsp)
{
    const QList<QPair<QString, QByteArray>> model0 {{"arm.bin", packageWriter::withTrailer(arm)},
                                                    {"dsp.out", packageWriter::withTrailer(dsp)}};
    const QList<QPair<QString, QByteArray>> model1 {{"2U_20K_MONITOR.bin", packageWriter::withTrailer(arm)},
                                                    {"Inv_power33.out", packageWriter::withTrailer(dsp)}};
    signedPackage("signed-5-10k", 0, model0, model0);
    signedPackage("signed-15-20k", 1, model1, model1);
    signedPackage("signed-member-added", 0, model0 + QList<QPair<QString, QByteArray>> {{"notes.txt", "later"}},
                  model0);
    signedPackage("signed-other-content", 0, model0, model1);
}

void packages()
{
    const QByteArray arm = pattern(1500, 1);
    const QByteArray dsp = pattern(900, 2);
    package("honest-5-10k", [&](packageWriter &w) {
        w.addImage("arm.bin", arm);
        w.addImage("dsp.out", dsp);
    });
    package("honest-15-20k", [&](packageWriter &w) {
        w.addImage("2U_20K_MONITOR.bin", arm);
        w.addImage("Inv_power33.out", dsp);
        w.addImage("Rec_power33.out", pattern(700, 3));
    });
    package("wrong-trailer", [&](packageWriter &w) {
        w.addImage("arm.bin", arm, true);
        w.addImage("dsp.out", dsp);
    });
    package("short-image", [&](packageWriter &w) { w.addRaw("arm.bin", QByteArray("\xe3\xb0\xc4", 3)); });
    package("empty-image", [&](packageWriter &w) { w.addRaw("arm.bin", QByteArray()); });
    package("dot-dot", [&](packageWriter &w) {
        w.addImage("../outside/arm.bin", arm);
        w.addImage("a/../../arm.bin", arm);
        w.addImage("dsp.out", dsp);
    });
    package("absolute", [&](packageWriter &w) {
        w.addImage("/tmp/arm.bin", arm);
        w.addImage("C:/arm.bin", arm);
    });
    package("backslash", [&](packageWriter &w) { w.addImage("..\\outside\\arm.bin", arm); });
    package("symlink-through", [&](packageWriter &w) {
        w.addSymlink("lnk", "../outside");
        w.addImage("lnk/arm.bin", arm);
        w.addSymlink("arm.bin", "/etc/passwd");
    });
    package("directories", [&](packageWriter &w) {
        w.addDirectory("sub/");
        w.addImage("sub/arm.bin", arm);
        w.addImage("./dsp.out", dsp);
    });
    package("duplicate-names", [&](packageWriter &w) {
        w.addImage("arm.bin", arm);
        w.addImage("arm.bin", pattern(600, 9), true);
    });
    package(
        "damaged-crc",
        [&](packageWriter &w) {
            w.addImage("arm.bin", arm);
            w.addImage("dsp.out", dsp);
        },
        "arm.bin");
    package("empty", [](packageWriter &) {});
    signedPackages(arm, dsp);
    save("package", "not-a-zip", QByteArray("PK\x03\x04 this is no archive"));
}

// ---- captured arrivals ---------------------------------------------------------

struct Capture
{
    QByteArray head; // mode and job bytes of the harness
    QList<QByteArray> arrivals;
};

// Groups the arrivals by the step they came in and writes one seed per
// group, and one seed with every framed reply in order.
void saveCaptures(const QString &target, const QString &name, const QList<Capture> &groups, const QByteArray &allHead,
                  const QList<QByteArray> &all)
{
    int n = 0;
    for (const Capture &group : groups) {
        const QList<QByteArray> some = group.arrivals.mid(0, kArrivalsPerSeed);
        const QString seed = QStringLiteral("%1-%2").arg(name).arg(n++, 2, 10, QLatin1Char('0'));
        save(target, seed, group.head + hostileInput::joinArrivals(some));
        // The decoder alone: the first board's preamble steps read raw bytes.
        if (target == "firstreceive")
            save("firstcodec", seed,
                 QByteArray(1, char(group.head.at(0) & 0x80 ? 1 : 0)) + hostileInput::joinArrivals(some));
        else
            save("secondcodec", seed, hostileInput::joinArrivals(some));
    }
    if (!all.isEmpty())
        save(target, name + "-whole", allHead + hostileInput::joinArrivals(all.mid(0, 40)));
}

void addArrival(QList<Capture> &groups, const QByteArray &head, const QByteArray &bytes)
{
    if (groups.isEmpty() || groups.last().head != head)
        groups.append(Capture {head, {}});
    groups.last().arrivals.append(bytes);
}

bool runUntil(const std::function<void(QEventLoop &)> &hook)
{
    QEventLoop loop;
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, &loop, [&loop] { loop.exit(1); });
    limit.start(kJobLimitMs);
    hook(loop);
    return loop.exec() == 0;
}

void firstBoardJob(const QString &name, const QString &fault)
{
    firstUnit unit;
    if (!unit.open() || (!fault.isEmpty() && !unit.addFault(fault)))
        return;
    serialport port;
    port.setWarningPresenter([](const QString &) {});
    progress engine(&port);
    QList<Capture> groups;
    QList<QByteArray> framed;
    QObject::connect(&port, &serialport::receive, &engine, [&](const QByteArray &bytes) {
        const int step = engine.frame().step;
        const quint8 mode = quint8(step | 0x40 | (step <= progress::StepPreambleTarget ? 0x80 : 0));
        // Image index 0, the 2500-byte harness image.
        addArrival(groups, QByteArray(1, char(mode)) + char(2 << 1), bytes);
        if (step >= progress::StepShakeHand)
            framed.append(bytes);
    });
    QObject::connect(&port, &serialport::receive, &engine, &progress::receiveData);
    const QByteArray bytes = pattern(2500, 4);
    const QString image = writeWork("arm.bin", bytes);
    runUntil([&](QEventLoop &loop) {
        QObject::connect(&engine, &progress::finish, &loop, [&loop] { loop.exit(0); });
        QObject::connect(&engine, &progress::jobFailed, &loop, [&loop] { loop.exit(0); });
        updateParm job;
        job.modelId = 0;
        job.imagePath = image;
        job.image = bytes;
        job.portName = unit.portName();
        engine.initParm(job);
    });
    const QByteArray allHead = QByteArray(1, char(progress::StepShakeHand | 0x40)) + char(2 << 1);
    saveCaptures("firstreceive", name, groups, allHead, framed);
}

QByteArray secondImage()
{
    QByteArray image = pattern(0x4000 + 600, 5);
    image.replace(0x4000, 8, "QJX-MONI");
    return image;
}

void secondBoardJob(const QString &name, const QString &fault)
{
    secondUnit unit;
    if (!unit.open() || (!fault.isEmpty() && !unit.addFault(fault)))
        return;
    serialport port;
    port.setWarningPresenter([](const QString &) {});
    progress1 engine(&port);
    QList<Capture> groups;
    QList<QByteArray> all;
    // Image index 0 in long frames, the 2500-byte harness image.
    const char job = char(0 | (1 << 2) | (2 << 3));
    QObject::connect(&port, &serialport::receive1, &engine, [&](const QByteArray &bytes) {
        const quint8 mode = quint8(engine.state() | 0x40 | (engine.isRunning() ? 0x80 : 0));
        addArrival(groups, QByteArray(1, char(mode)) + job, bytes);
        all.append(bytes);
    });
    QObject::connect(&port, &serialport::receive1, &engine, &progress1::receiveData);
    const QByteArray bytes = secondImage();
    const QString image = writeWork("2U_20K_MONITOR.bin", bytes);
    runUntil([&](QEventLoop &loop) {
        QObject::connect(&engine, &progress1::finish, &loop, [&loop] { loop.exit(0); });
        QObject::connect(&engine, &progress1::jobFailed, &loop, [&loop] { loop.exit(0); });
        updateParm p;
        p.modelId = 1;
        p.imagePath = image;
        p.image = bytes;
        p.portName = unit.portName();
        engine.initParm(p);
    });
    saveCaptures("secondreceive", name, groups, QByteArray(1, char(0xC0)) + job, all);
}
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz_corpusgen DIR\n");
        return 2;
    }
    hostileInput::silenceDebugOutput();
    common::setTimeScale(kTimeScale);
    g_out = QString::fromLocal8Bit(argv[1]);
    QTemporaryDir work;
    g_work = &work;

    objectFiles();
    packages();
    const QStringList firstFaults = {"",
                                     "drip",
                                     "split",
                                     "garbage:shakehand",
                                     "unknown:verify",
                                     "badstatus:erase",
                                     "nak:write@2",
                                     "nak:shakehand@1"};
    for (int i = 0; i < firstFaults.size(); ++i)
        firstBoardJob(QStringLiteral("job%1").arg(i), firstFaults.at(i));
    const QStringList secondFaults = {
        "", "drip:start", "split", "garbage:erase", "long12:filesize", "long13:data@3", "double:data@2", "nak:data@4"};
    for (int i = 0; i < secondFaults.size(); ++i)
        secondBoardJob(QStringLiteral("job%1").arg(i), secondFaults.at(i));
    return 0;
}
