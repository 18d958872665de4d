#include "PathDialog.h"

#include <unistd.h>
#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSignalBlocker>
#include <QStorageInfo>
#include <QStyle>
#include <QStyledItemDelegate>
#include <algorithm>
#include <filesystem>

#include "AppContext.h"
#include "ConfigFile.h"
#include "Desktop.h"
#include "LocalText.h"
#include "Look.h"
#include "ProTool.h"
#include "Prompts.h"
#include "ShellMessages.h"
#include "Startup.h"

namespace fbx::ui {

namespace {

constexpr int kPathRole = Qt::UserRole;
constexpr int kDepthRole = Qt::UserRole + 1;
constexpr qint64 kLargestConfiguration = 1 << 20;

// Draws the directory list's entries indented by their depth, so that their
// texts are the bare names: typing a name jumps to it.
class IndentByDepth : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        QStyleOptionViewItem indented = option;
        indented.rect.setLeft(option.rect.left() + index.data(kDepthRole).toInt() *
                                                       option.fontMetrics.horizontalAdvance("  "));
        QStyledItemDelegate::paint(painter, indented, index);
    }
};

struct Listing {
    QStringList dirs;
    QStringList files;  // with the pattern applied
};

void sortNames(QStringList& names) {
    std::sort(names.begin(), names.end(), [](const QString& a, const QString& b) {
        const int c = a.compare(b, Qt::CaseInsensitive);
        return c != 0 ? c < 0 : a < b;
    });
}

// Reads dir's visible subdirectories and files; false with the system's
// reason when the directory cannot be read.
bool readDirectory(const QString& dir, FilePattern pattern, Listing& out, std::string& error) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const std::string path = localBytes(dir);
    fs::directory_iterator it(path, ec);
    if (ec) {
        error = path + ": " + ec.message();
        return false;
    }
    for (; it != fs::directory_iterator(); it.increment(ec)) {
        if (ec) {
            error = path + ": " + ec.message();
            return false;
        }
        const std::string name = it->path().filename().string();
        if (name.empty() || name[0] == '.') continue;
        std::error_code kind;
        if (it->is_directory(kind)) {
            out.dirs << localText(name);
        } else if (it->is_regular_file(kind)) {
            if (pattern == FilePattern::Executables && ::access(it->path().c_str(), X_OK) != 0) {
                continue;
            }
            out.files << localText(name);
        }
    }
    sortNames(out.dirs);
    sortNames(out.files);
    return true;
}

// True when path names an existing file that does not read as a
// configuration file (an operator's program, say).
bool isOtherFile(const QString& path) {
    const QFileInfo info(path);
    if (!info.exists()) return false;
    if (!info.isFile() || info.size() > kLargestConfiguration) return true;
    std::string text;
    Settings scratch;
    return !readWholeFile(localBytes(path), text).isOk() || !parseConfig(text, scratch);
}

QString rootOf(const QString& dir, const QComboBox* drives) {
    QString best = QStringLiteral("/");
    for (int i = 0; i < drives->count(); ++i) {
        const QString root = drives->itemData(i, kPathRole).toString();
        if ((dir == root || dir.startsWith(PathChoice::withSeparator(root))) &&
            root.size() > best.size()) {
            best = root;
        }
    }
    return best;
}

}  // namespace

PathDialog::PathDialog(AppContext& app, PathDialogMode mode, QWidget* parent)
    : QDialog(parent),
      m_app(app),
      m_choice(mode, localText(app.settings.editorPath), localText(app.configPath)) {
    setObjectName(QStringLiteral("form4"));
    setWindowTitle(m_choice.caption());
    setFixedSize(twips(5055, this), twips(3615, this));
    auto place = [this](QWidget* w, int x, int y, int width, int height) {
        w->setGeometry(twips(x, this), twips(y, this), twips(width, this), twips(height, this));
    };

    m_drives = new QComboBox(this);
    m_drives->setObjectName(QStringLiteral("Drive1"));
    place(m_drives, 120, 120, 975, 300);

    auto* sureButton = new QPushButton(QStringLiteral("Sure"), this);
    sureButton->setObjectName(QStringLiteral("Command1"));
    QFont bold = sureButton->font();
    bold.setBold(true);
    sureButton->setFont(bold);
    sureButton->setAutoDefault(false);
    place(sureButton, 1560, 120, 1695, 375);
    auto* cancelButton = new QPushButton(QStringLiteral("Cancel"), this);
    cancelButton->setObjectName(QStringLiteral("cancel"));
    cancelButton->setAutoDefault(false);
    place(cancelButton, 3360, 120, 1455, 375);

    m_dirs = new QListWidget(this);
    m_dirs->setObjectName(QStringLiteral("Dir1"));
    m_dirs->setItemDelegate(new IndentByDepth(m_dirs));
    place(m_dirs, 120, 600, 2295, 1770);

    m_files = new QListWidget(this);
    m_files->setObjectName(QStringLiteral("File1"));
    place(m_files, 2520, 600, 2295, 1650);

    m_prompt = new QLabel(m_choice.prompt(), this);
    m_prompt->setObjectName(QStringLiteral("Label1"));
    m_prompt->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_prompt->setAutoFillBackground(true);
    QPalette alarm = m_prompt->palette();
    alarm.setColor(QPalette::Window, Qt::red);
    alarm.setColor(QPalette::WindowText, Qt::white);
    m_prompt->setPalette(alarm);
    place(m_prompt, 0, 2880, 975, 615);
    // "Path Save =" stays on one line: the prompt widens as far as its face
    // needs and the path starts where it ends.
    m_prompt->resize(std::max(m_prompt->width(), m_prompt->sizeHint().width()), m_prompt->height());
    auto besidePrompt = [this](QWidget* w) {
        QRect r = w->geometry();
        r.setLeft(std::max(r.left(), m_prompt->x() + m_prompt->width()));
        w->setGeometry(r);
    };

    m_pathLabel = new QLabel(this);
    m_pathLabel->setObjectName(QStringLiteral("Label2"));
    m_pathLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_pathLabel->setWordWrap(true);
    m_pathLabel->setTextFormat(Qt::PlainText);
    place(m_pathLabel, 960, 2880, 3975, 615);
    besidePrompt(m_pathLabel);

    m_pathField = new QLineEdit(this);
    m_pathField->setObjectName(QStringLiteral("Text1"));
    place(m_pathField, 960, 2880, 3975, 615);
    besidePrompt(m_pathField);
    m_pathField->setVisible(m_choice.showsPathField());

    connect(sureButton, &QPushButton::clicked, this, &PathDialog::sure);
    connect(cancelButton, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_drives, &QComboBox::activated, this, &PathDialog::chooseDrive);
    connect(m_dirs, &QListWidget::itemActivated, this,
            [this](QListWidgetItem* item) { openDirectory(item->data(kPathRole).toString()); });
    // A file highlighted by the mouse, the arrow keys or by typing its name
    // is chosen alike; "Sure" takes only what is highlighted.
    connect(m_files, &QListWidget::itemSelectionChanged, this, &PathDialog::fileClicked);

    // The lists start at the current directory with every file shown,
    // whatever selectedPath is.
    fillDrives();
    const QString start = QDir::currentPath();
    selectDriveOf(start);
    showDirectory(start);
    showChoice();
}

void PathDialog::keyPressEvent(QKeyEvent* event) {
    if (!pressFocusedButton(this, event)) QDialog::keyPressEvent(event);
}

void PathDialog::fillDrives() {
    QStringList roots{QStringLiteral("/")};
    for (const QStorageInfo& volume : QStorageInfo::mountedVolumes()) {
        // A file mounted on its own (as containers do with /etc/hosts) is no
        // drive.
        if (volume.isValid() && volume.isReady() && QFileInfo(volume.rootPath()).isDir() &&
            !roots.contains(volume.rootPath())) {
            roots << volume.rootPath();
        }
    }
    std::sort(roots.begin() + 1, roots.end());
    int widest = 0;
    for (const QString& root : roots) {
        m_drives->addItem(style()->standardIcon(QStyle::SP_DriveHDIcon), root, root);
        widest = std::max(widest, m_drives->fontMetrics().horizontalAdvance(root));
    }
    // Long mount points stay readable in the open list.
    m_drives->view()->setMinimumWidth(widest + twips(600, this));
}

void PathDialog::selectDriveOf(const QString& dir) {
    const int index = m_drives->findData(rootOf(dir, m_drives), kPathRole);
    if (index >= 0) m_drives->setCurrentIndex(index);
}

bool PathDialog::showDirectory(const QString& dir) {
    Listing listing;
    std::string error;
    if (!readDirectory(dir, m_choice.pattern(), listing, error)) {
        ask(this, unreadableDirectoryMessage(error));
        return false;
    }
    m_dir = QDir::cleanPath(dir);

    // The directory list shows the way down from the root, the directory
    // itself highlighted, then its subdirectories; opening an entry (double
    // click or Enter) goes there.
    m_dirs->clear();
    const QIcon open = style()->standardIcon(QStyle::SP_DirOpenIcon);
    const QIcon closed = style()->standardIcon(QStyle::SP_DirClosedIcon);
    const QStringList parts = m_dir.split('/', Qt::SkipEmptyParts);
    QString path = QStringLiteral("/");
    auto addDir = [this](const QIcon& icon, const QString& text, const QString& target, int depth) {
        auto* item = new QListWidgetItem(icon, text, m_dirs);
        item->setData(kPathRole, target);
        item->setData(kDepthRole, depth);
        return item;
    };
    QListWidgetItem* current = addDir(open, path, path, 0);
    for (int i = 0; i < parts.size(); ++i) {
        path = PathChoice::join(path, parts[i]);
        current = addDir(open, parts[i], path, i + 1);
    }
    for (const QString& name : listing.dirs) {
        addDir(closed, name, PathChoice::join(m_dir, name), parts.size() + 1);
    }
    m_dirs->setCurrentItem(current);

    // A new listing highlights nothing; selectedPath is the directory's.
    const QSignalBlocker quiet(m_files);
    m_files->clear();
    m_files->addItems(listing.files);
    return true;
}

bool PathDialog::openDirectory(const QString& dir) {
    // The pattern that the first change brings in applies to this listing.
    PathChoice next = m_choice;
    next.directoryChanged(dir);
    std::swap(m_choice, next);
    if (!showDirectory(dir)) {
        std::swap(m_choice, next);
        return false;
    }
    selectDriveOf(m_dir);
    showChoice();
    return true;
}

void PathDialog::chooseDrive(int index) {
    const QString root = m_drives->itemData(index, kPathRole).toString();
    m_choice.driveChanged(m_dir);
    if (!openDirectory(root)) selectDriveOf(m_dir);
    showChoice();
}

void PathDialog::fileClicked() {
    const QList<QListWidgetItem*> highlighted = m_files->selectedItems();
    if (highlighted.isEmpty()) {
        // The operator took the highlight away (Ctrl+click): no file is chosen.
        m_choice.fileDeselected(m_dir);
    } else {
        m_choice.fileClicked(m_dir, highlighted.first()->text());
    }
    showChoice();
}

void PathDialog::showChoice() {
    m_pathLabel->setText(m_choice.pathLabel());
    m_pathField->setText(m_choice.selectedPath());
}

void PathDialog::sure() {
    if (!m_choice.sure(m_pathField->text())) {
        ask(this, wrongPathMessage());
        return;
    }
    const QString path = m_choice.selectedPath();
    switch (m_choice.mode()) {
        case PathDialogMode::EditorPath:
            m_app.settings.editorPath = localBytes(path);
            break;
        case PathDialogMode::SaveConfiguration:
            if (!saveConfiguration(path)) return;
            break;
        case PathDialogMode::RestoreConfiguration:
            restoreConfiguration(path);
            break;
    }
    accept();
}

bool PathDialog::saveConfiguration(const QString& path) {
    // A file that is not a configuration (a part program picked by mistake)
    // is replaced only when the operator says so.
    if (isOtherFile(path) && ask(this, replaceOtherFileMessage(localBytes(path))) != Answer::Yes) {
        return false;
    }
    const std::string previous = m_app.configPath;
    m_app.configPath = localBytes(path);
    const Status status = saveSettings(m_app.settings, m_app.configPath);
    if (!status.isOk()) {
        // The operator picks again; later saves keep going to the old file.
        m_app.configPath = previous;
        ask(this, saveFailedMessage(status));
        return false;
    }
    return true;
}

void PathDialog::restoreConfiguration(const QString& path) {
    const std::string previous = m_app.configPath;
    m_app.configPath = localBytes(path);
    const LoadOutcome outcome =
        loadSettings(m_app.settings, m_app.configPath, LoadPurpose::Restore);
    if (outcome.defaultsTaken) {
        // The chosen file is not a configuration: the defaults hold in memory
        // and later saves go to the file in use before, never over this one.
        m_app.configPath = previous;
        ReportLoad(this, outcome);
    }
    ProTool(m_app.settings, m_app.codes);
    emit proToolRan();
}

}  // namespace fbx::ui
