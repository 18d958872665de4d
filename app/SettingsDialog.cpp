#include "SettingsDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <algorithm>
#include <map>

#include "AppContext.h"
#include "ConfigFile.h"
#include "Desktop.h"
#include "LocalText.h"
#include "Look.h"
#include "PortMap.h"
#include "ProTool.h"
#include "Prompts.h"
#include "ShellMessages.h"

namespace fbx::ui {

namespace {

constexpr int kLabelWidth = 1215;
constexpr int kRowHeight = 300;

// The ports of the port map in startDir above the list's own "1" and "2",
// in their order.
QStringList furtherMappedPorts(const std::string& startDir) {
    std::string text;
    const std::string path = startDir + kPortMapFileName;
    if (!readWholeFile(path, text).isOk()) return {};
    QStringList ports;
    for (const auto& [port, device] : parsePortMap(text, path, startDir).devices)
        if (port > 2) ports << QString::number(port);
    return ports;
}

}  // namespace

const std::vector<SettingsDialog::Choice>& SettingsDialog::choices() {
    // Label x and y, list x and width, in twips.
    // clang-format off
    static const std::vector<Choice> table = {
        {"portList", "Port", {"1", "2"}, &Settings::port, 360, 360, 1440, 840},
        {"baudRateList", "Baudrate", {"1200", "2400", "4800", "9600", "19200", "38400"},
         &Settings::baudRate, 360, 960, 1440, 840},
        {"dataBitsList", "Data Bit", {"6", "7", "8"}, &Settings::dataBits, 360, 1560, 1440, 840},
        {"stopBitsList", "Stop bit", {"1", "2"}, &Settings::stopBits, 360, 2160, 1440, 840},
        {"parityList", "Check bit", {"e", "o", "n"}, &Settings::parity, 360, 2760, 1440, 840},
        {"modeList", "mode", {"Data In/Out", "DNC", "NOMAL"}, &Settings::mode,
         360, 3360, 1440, 1440},
        {"handshakeList", "Handshaking", {"Soft", "Brix"}, &Settings::handshake,
         2400, 360, 3600, 1020},
        {"codeList", "Code", {"ISO", "EIA"}, &Settings::code, 2400, 960, 3600, 1020},
        {"receiveViewList", "REceive view", {"ON", "OFF"}, &Settings::receiveView,
         2400, 1560, 3600, 1020},
        {"sendViewList", "Send view", {"ON", "OFF"}, &Settings::sendView, 2400, 2160, 3600, 1020},
        {"serialIntervalList", "Serial interval",
         {"1", "2", "3", "4", "5", "10", "20", "30", "40", "50", "80", "100"},
         &Settings::serialInterval, 2400, 2760, 3600, 1020},
    };
    // clang-format on
    return table;
}

SettingsDialog::SettingsDialog(AppContext& app, QWidget* parent) : QDialog(parent), m_app(app) {
    setObjectName(QStringLiteral("Form2"));
    setWindowTitle(QStringLiteral("Protocol"));

    // The lists stand at their designed places unless the face in use makes a
    // caption wider than its label; then the column's lists move right just
    // enough for the caption to show whole.
    std::map<int, int> shift;  // label column (twips) -> pixels the lists move
    for (const Choice& choice : choices()) {
        const int captionEnd = twips(choice.labelX, this) +
                               fontMetrics().horizontalAdvance(QLatin1String(choice.caption)) +
                               twips(90, this);
        shift[choice.labelX] =
            std::max(shift[choice.labelX], captionEnd - twips(choice.listX, this));
    }
    auto place = [this](QWidget* w, int x, int y, int width, int height, int dx = 0) {
        w->setGeometry(twips(x, this) + dx, twips(y, this), twips(width, this),
                       twips(height, this));
    };

    int right = 0;
    std::map<int, int> rowRight;     // row (twips) -> right edge of its lists so far
    std::map<int, int> columnShift;  // label column (twips) -> pixels it moves right
    for (const Choice& choice : choices()) {
        // A column moves right as far as a list to its left in one of its
        // rows reaches into it.
        if (!columnShift.count(choice.labelX)) {
            int dx = 0;
            for (const Choice& same : choices())
                if (same.labelX == choice.labelX && rowRight.count(same.labelY))
                    dx = std::max(
                        dx, rowRight[same.labelY] + twips(90, this) - twips(choice.labelX, this));
            columnShift[choice.labelX] = dx;
        }
        const int dx = columnShift[choice.labelX];
        auto* label = new QLabel(QString::fromLatin1(choice.caption), this);
        place(label, choice.labelX, choice.labelY, kLabelWidth, kRowHeight, dx);
        label->resize(std::max(label->width(), label->sizeHint().width()), label->height());

        auto* list = new QComboBox(this);
        list->setObjectName(QString::fromLatin1(choice.objectName));
        list->setEditable(false);
        for (const char* entry : choice.entries) list->addItem(QString::fromLatin1(entry));
        if (choice.field == &Settings::port) list->addItems(furtherMappedPorts(m_app.programDir));
        const QString current = localText(m_app.settings.*choice.field);
        int index = list->findText(current, Qt::MatchExactly | Qt::MatchCaseSensitive);
        if (index < 0) {
            list->addItem(current);
            index = list->count() - 1;
        }
        list->setCurrentIndex(index);
        place(list, choice.listX, choice.labelY, choice.listWidth, kRowHeight,
              shift[choice.labelX] + dx);
        // Wide enough for the longest entry ("19200") in the face in use.
        list->resize(std::max(list->width(), list->sizeHint().width()), list->height());
        right = std::max(right, list->geometry().right());
        rowRight[choice.labelY] = std::max(rowRight[choice.labelY], list->geometry().right());
        m_lists.push_back(list);
    }

    m_sendingEdit = new QCheckBox(QStringLiteral("Sending Edit "), this);
    m_sendingEdit->setObjectName(QStringLiteral("Check1"));
    m_sendingEdit->setChecked(m_app.settings.sendingEdit == 1);
    place(m_sendingEdit, 3000, 3360, 1620, kRowHeight, shift[360]);
    // The switch takes effect on the click, confirmed or not.
    connect(m_sendingEdit, &QCheckBox::clicked, this,
            [this](bool checked) { m_app.settings.sendingEdit = checked ? 1 : 0; });

    auto* confirmButton = new QPushButton(QStringLiteral("Confirm"), this);
    confirmButton->setObjectName(QStringLiteral("Command1"));
    confirmButton->setToolTip(QStringLiteral("Svae Exit"));
    confirmButton->setAutoDefault(false);
    place(confirmButton, 1680, 3840, 1215, 375);
    connect(confirmButton, &QPushButton::clicked, this, &SettingsDialog::confirm);

    // Under the port list, the device the chosen port maps to.
    const int width = std::max(twips(4980, this), right + twips(360, this));
    m_portDevice = new QLabel(this);
    m_portDevice->setObjectName(QStringLiteral("portDevice"));
    m_portDevice->setGeometry(twips(1440, this) + shift[360], twips(660, this),
                              width - twips(1440 + 360, this) - shift[360],
                              twips(kRowHeight, this));
    QComboBox* portList = findChild<QComboBox*>(QStringLiteral("portList"));
    connect(portList, &QComboBox::currentTextChanged, this, &SettingsDialog::showPortDevice);
    showPortDevice();

    setFixedSize(width, twips(4620, this));
}

void SettingsDialog::keyPressEvent(QKeyEvent* event) {
    if (!pressFocusedButton(this, event)) QDialog::keyPressEvent(event);
}

void SettingsDialog::showPortDevice() {
    const QString port = findChild<QComboBox*>(QStringLiteral("portList"))->currentText();
    const QString device = localText(mappedDevice(port.toInt(), m_app.programDir));
    m_portDevice->setToolTip(device);
    m_portDevice->setText(
        m_portDevice->fontMetrics().elidedText(device, Qt::ElideMiddle, m_portDevice->width()));
}

void SettingsDialog::confirm() {
    const std::vector<Choice>& table = choices();
    for (size_t i = 0; i < table.size(); ++i) {
        m_app.settings.*table[i].field = localBytes(m_lists[i]->currentText());
    }
    if (ask(this, saveOrNotMessage()) == Answer::Yes) {
        const Status status = saveSettings(m_app.settings, m_app.configPath);
        if (!status.isOk()) ask(this, saveFailedMessage(status));
    }
    ProTool(m_app.settings, m_app.codes);
    emit proToolRan();
    accept();
}

}  // namespace fbx::ui
