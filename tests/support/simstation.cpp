#include "simstation.h"

#include <QPushButton>

bool SimStation::start() {
    pointStation();
    return sim.start();
}

void SimStation::pointStation() const {
    sim.pointStation();
}

Form1 &SimStation::open(Form1Options options, std::array<SerialTransport *, 2> ports) {
    if (options.csvPath.isEmpty())
        options.csvPath = csvPath();
    return form.emplace(ports, std::move(options));
}

QStringList SimStation::connectTexts() const {
    return form ? QStringList{form->cmd_coneck->text(), form->cmd_coneck1->text()} : QStringList{};
}
