#pragma once

#include "form1.h"
#include "plantsim.h"

#include <QStringList>
#include <QTemporaryDir>
#include <optional>

// The station's window against the plant simulator: the simulator on its pseudo-terminal links,
// RTU_STATION_PORTS pointing at them, the window with its snapshot file in a folder of its own.
// The window goes before the simulator, so its ports are closed before their links vanish.
class SimStation {
public:
    explicit SimStation(QStringList simArgs = {})
        : sim(std::move(simArgs)) {}

    // Points the station at the simulator's links and starts the simulator (waits, bounded, for
    // both links); false when it does not start.
    bool start();
    // Points the station at the simulator's links without starting it (links that come later).
    void pointStation() const;
    // Makes the window; an empty snapshot path in `options` becomes csvPath().
    Form1 &open(Form1Options options = {}, std::array<SerialTransport *, 2> ports = {});

    // The texts of both links' connect buttons, link 0 first; bothOpen when both ports are open.
    QStringList connectTexts() const;
    static inline const QStringList bothOpen{QStringLiteral("DisConnect"),
                                             QStringLiteral("DisConnect")};

    QString csvPath() const { return dir.filePath(QStringLiteral("mwRARE.csv")); }

    PlantSim sim;
    QTemporaryDir dir;
    std::optional<Form1> form;
};
