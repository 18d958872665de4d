#include "ProcessingDialog.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <algorithm>

#include "AppContext.h"
#include "LocalText.h"
#include "Look.h"
#include "Prompts.h"
#include "ShellMessages.h"

namespace fbx::ui {

namespace {

struct Row {
    const char* caption;
    std::string Settings::*field;
};

// Text1 index -> label and settings field.
constexpr std::array<Row, 7> kRows = {{
    {"Stater", &Settings::starterString},
    {"Termination", &Settings::terminationString},
    {"Replace #1", &Settings::replaceString1},
    {"Replace #2", &Settings::replaceString2},
    {"Replace #3", &Settings::replaceString3},
    {"Replace #4", &Settings::replaceString4},
    {"Replace#5", &Settings::replaceString5},
}};

// Keyboard order through the boxes; "O K" follows the last.
constexpr std::array<int, 7> kTabOrder = {0, 1, 3, 4, 5, 6, 2};

// Geometry in twips.
constexpr int kMargin = 240;
constexpr int kFirstRowY = 840;
constexpr int kRowStep = 480;
constexpr int kLabelWidth = 1440;
constexpr int kBoxX = kMargin + kLabelWidth + 120;
constexpr int kBoxWidth = 3600;
constexpr int kBoxHeight = 330;
constexpr int kWidth = kBoxX + kBoxWidth + kMargin;

const QColor kBlue(0, 0, 160);
const QColor kRed(255, 72, 72);
const QColor kYellow(255, 255, 0);
const QColor kGreen(0, 192, 0);

QFont faceFont(double points, bool bold) {
    // The dialog names its face "新細明體"; systemFont picks it, or the
    // installed face that matches it.
    return systemFont(points, bold);
}

}  // namespace

bool ProcessingDialog::bracketCountAcceptable(const std::string& text) {
    if (text.empty()) return true;
    const auto brackets =
        std::count_if(text.begin(), text.end(), [](char c) { return c == '[' || c == ']'; });
    return brackets == 0 || brackets == 6;
}

ProcessingDialog::ProcessingDialog(AppContext& app, QWidget* parent) : QDialog(parent), m_app(app) {
    setObjectName(QStringLiteral("Form5"));
    // No text in the title bar. An empty title would make the desktop show
    // the program's name there, a blank shows nothing.
    setWindowTitle(QStringLiteral(" "));
    const int buttonY = kFirstRowY + 7 * kRowStep + 120;
    setFixedSize(twips(kWidth, this), twips(buttonY + 495 + kMargin, this));
    auto place = [this](QWidget* w, int x, int y, int width, int height) {
        w->setGeometry(twips(x, this), twips(y, this), twips(width, this), twips(height, this));
    };

    setAutoFillBackground(true);
    QPalette back = palette();
    back.setColor(QPalette::Window, kBlue);
    setPalette(back);

    auto* heading = new QLabel(QStringLiteral("********Replace**********"), this);
    heading->setObjectName(QStringLiteral("Label8"));
    heading->setFont(faceFont(18, true));
    heading->setAlignment(Qt::AlignCenter);
    QPalette yellow = heading->palette();
    yellow.setColor(QPalette::WindowText, kYellow);
    heading->setPalette(yellow);
    place(heading, kMargin, 120, kWidth - 2 * kMargin, 600);

    for (int i = 0; i < 7; ++i) {
        const int y = kFirstRowY + i * kRowStep;
        auto* label = new QLabel(QString::fromLatin1(kRows[i].caption), this);
        label->setObjectName(QStringLiteral("Label%1").arg(i + 1));
        label->setFont(faceFont(10, true));
        QPalette red = label->palette();
        red.setColor(QPalette::WindowText, kRed);
        label->setPalette(red);
        place(label, kMargin, y, kLabelWidth, kBoxHeight);

        auto* box = new QLineEdit(localText(m_app.settings.*kRows[i].field), this);
        box->setObjectName(QStringLiteral("Text1"));
        box->setProperty("index", i);
        place(box, kBoxX, y, kBoxWidth, kBoxHeight);
        m_texts[i] = box;
    }

    auto* ok = new QPushButton(QStringLiteral("O K"), this);
    ok->setObjectName(QStringLiteral("Command1"));
    ok->setFont(faceFont(10, true));
    ok->setAutoDefault(false);
    QPalette green = ok->palette();
    green.setColor(QPalette::Button, kGreen);
    green.setColor(QPalette::ButtonText, Qt::black);
    ok->setPalette(green);
    place(ok, (kWidth - 1215) / 2, buttonY, 1215, 495);
    connect(ok, &QPushButton::clicked, this, &ProcessingDialog::okPressed);

    for (size_t i = 0; i + 1 < kTabOrder.size(); ++i) {
        setTabOrder(m_texts[kTabOrder[i]], m_texts[kTabOrder[i + 1]]);
    }
    setTabOrder(m_texts[kTabOrder.back()], ok);
    m_texts[kTabOrder.front()]->setFocus();
}

void ProcessingDialog::okPressed() {
    // Every text is stored before the check, so a refused text is kept too.
    for (int i = 0; i < 7; ++i) m_app.settings.*kRows[i].field = localBytes(m_texts[i]->text());
    for (int i = 0; i < 7; ++i) {
        if (!bracketCountAcceptable(m_app.settings.*kRows[i].field)) {
            ask(this, inputIncompleteMessage());
            return;
        }
    }
    accept();
}

}  // namespace fbx::ui
