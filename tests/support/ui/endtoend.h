#pragma once

#include "link/devicelink.h"
#include "link/serialport.h"
#include "processcpu.h"
#include "relaymodel.h"
#include "relaysim.h"
#include "scriptedprompts.h"
#include "settings/items.h"
#include "ui/mainwindow.h"
#include "ui/servicewindow.h"

#include <QComboBox>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <memory>

namespace veltra::test {

// The texts a relay's codes show as, straight from the item tables.
inline QStringList expectedTexts(const sim::RelaySettings &s, int page)
{
    if (page == kCommonPage) {
        const sim::CommonCodes &c = s.common;
        return {textOfCode(PageKind::Common, 0, c.frequency),
                textOfCode(PageKind::Common, 1, (c.resetBits >> 1) & 1),
                textOfCode(PageKind::Common, 2, c.resetBits & 1),
                textOfCode(PageKind::Common, 3, c.leakageReset),
                textOfCode(PageKind::Common, 4, c.tripOnTest),
                textOfCode(PageKind::Common, 5, c.selfDiagnosis),
                textOfCode(PageKind::Common, 6, c.station)};
    }
    const sim::CircuitCodes &c = s.circuits[std::size_t(page - 1)];
    const int codes[] = {c.wiring, c.insulationSensitivity, c.insulationDelay, c.leakageSensitivity,
                         c.leakageDelay};
    QStringList texts;
    for (int k = 0; k < kCircuitItemCount; ++k)
        texts << textOfCode(PageKind::Circuit, k, codes[k]);
    return texts;
}

inline QStringList presentTexts(const MainWindow &w, int page)
{
    QStringList texts;
    for (int item = 0; item < itemCount(page); ++item)
        texts << w.presentValue(page, item);
    return texts;
}

inline QStringList setTexts(const MainWindow &w, int page)
{
    QStringList texts;
    for (int item = 0; item < itemCount(page); ++item)
        texts << w.setValue(page, item);
    return texts;
}

inline QStringList placeholders(int page)
{
    return QStringList(itemCount(page), notLoadedText());
}

inline QPushButton *button(MainWindow &w, const QString &name)
{
    auto *b = w.findChild<QPushButton *>(name);
    if (!b)
        b = w.serviceWindow().findChild<QPushButton *>(name);
    if (!b)
        qFatal("no button %s", qPrintable(name));
    return b;
}

inline QPushButton *pageButton(MainWindow &w, int page, int index)
{
    return button(w, QStringLiteral("Command%1_%2").arg(page + 1).arg(index));
}

// Frames the simulated relay received, as text (control characters included).
inline QStringList receivedFrames(const RelaySim &sim)
{
    QStringList list;
    for (const QJsonObject &frame : sim.frames())
        list << frame.value("frame").toString();
    return list;
}

inline QStringList receivedCommands(const RelaySim &sim)
{
    QStringList list;
    for (const QJsonObject &frame : sim.frames())
        list << frame.value("command").toString() + QString::number(frame.value("page").toInt());
    return list;
}

// A simulated relay and a real window talking to it over its pseudo-terminal.
struct Bench
{
    RelaySim sim;
    ScriptedPrompts prompts;
    std::unique_ptr<MainWindow> window;

    // `line`, when given, is the window's serial line instead of the platform's.
    bool start(const QStringList &simArgs = {}, SerialPort *line = nullptr)
    {
        if (!sim.start(simArgs)) {
            qWarning("%s", qPrintable(sim.errorString()));
            delete line;
            return false;
        }
        window = std::make_unique<MainWindow>(&prompts, sim.portPath(), line);
        window->show();
        return true;
    }
    MainWindow &w() { return *window; }
    QString requestMonitor() { return w().serviceWindow().requestMonitor()->text(); }
    QString replyMonitor() { return w().serviceWindow().replyMonitor()->text(); }
    QString writeMonitor() { return w().serviceWindow().writeMonitor()->text(); }
};

} // namespace veltra::test
