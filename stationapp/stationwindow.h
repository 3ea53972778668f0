#ifndef STATIONWINDOW_H
#define STATIONWINDOW_H

#include <QList>
#include <QStringList>
#include <QWidget>

#include <memory>

#include "station/flashfleet.h"
#include "station/flashoutput.h"
#include "station/stationprofile.h"

class QLabel;
class slotTile;

// The operator's window: the profile's slots as tiles, driven by one
// station fleet (the same cores, report and events as ups-flash). The
// set-up is locked: the package, the keys and the report come from the
// profile alone, and the top shows what was loaded.
class stationWindow : public QWidget, public flashOutput
{
    Q_OBJECT

public:
    explicit stationWindow(QWidget *parent = nullptr);
    ~stationWindow() override;

    // Checks the report and the keys, reads and checks the package. False
    // with what is wrong in *problem; nothing starts then.
    bool open(const stationProfile &profile, const QString &profilePath, QString *problem);
    void start();
    slotTile *tile(int slot) const { return m_tiles.value(slot); }
    QString totalsText() const;

    void runStarted(const runFacts &facts, const QStringList &ports) override;
    void waiting(int slot, Wait why) override;
    void unitStarted(int slot, const unitAttempt &attempt) override;
    void logLine(int slot, Level level, const QString &text) override;
    void progress(int slot, const QString &image, qint64 written, qint64 total) override;
    void imageEnded(int slot, const imageOutcome &image) override;
    void unitEnded(int slot, const unitAttempt &attempt) override;
    void runEnded(int exitStatus, const QList<slotTally> &tallies) override;

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    bool makeFleet(const stationProfile &profile, QString *problem);
    void buildTiles(const stationProfile &profile);
    void showPackage(const stationProfile &profile, const QString &sha256);
    QString signatureText() const;
    void showTotals();
    bool anyBusy() const;
    bool confirmStop();

    std::unique_ptr<flashFleet> m_fleet;
    QList<slotTile *> m_tiles;
    QLabel *m_package;
    QLabel *m_totals;
    QStringList m_runErrors; // said about the whole run while opening
    bool m_ended = false;
};

#endif // STATIONWINDOW_H
