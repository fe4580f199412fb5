#pragma once

#include <QObject>
#include <QString>
#include <optional>

class BrowserPane;
class FractionProgressBar;
class QLabel;
class QLineEdit;
class QPushButton;

// The controls of the upload and the browser pane, as the window holds them.
struct UploadControls {
    QPushButton *send = nullptr;                // Command5, "GGO"
    QPushButton *forward = nullptr;             // Command1
    QPushButton *back = nullptr;                // Command2
    QPushButton *reload = nullptr;              // Command3, "Refres"
    const QLineEdit *line = nullptr;            // txtPrint: the snapshot line
    QLineEdit *address = nullptr;               // Text1: the address sent
    QLabel *progress = nullptr;                 // Label5
    FractionProgressBar *progressBar = nullptr; // ProgressBar1
    BrowserPane *browser = nullptr;             // WebBrowser1
};

// "GGO" sends the snapshot line to the plant web server through the browser pane, whose
// navigation buttons and progress display it wires as well. A refused server setting sends
// nothing: the pane says what is wrong with it.
class UploadPanel : public QObject {
    Q_OBJECT
public:
    // `server` and `serverProblem` as the station's settings read them at start-up.
    UploadPanel(UploadControls controls, QString server, std::optional<QString> serverProblem,
                QObject *parent = nullptr);

    // The click on "GGO".
    void send();

private:
    UploadControls c_;
    QString server_;
    std::optional<QString> serverProblem_;
};
