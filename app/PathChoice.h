#pragma once

#include <QString>

namespace fbx::ui {

// The use for which the path dialog is opened.
enum class PathDialogMode { EditorPath = 1, SaveConfiguration = 2, RestoreConfiguration = 3 };

// Which files the path dialog's file list shows.
enum class FilePattern {
    All,          // every file
    Executables,  // files the user may run (the outside editor)
};

// The path dialog's choice, apart from its widgets: selectedPath, the
// first-change flag and the file pattern, following the operator's moves.
// Paths use '/'; a directory's path gets one trailing '/' (none added at the
// root "/").
class PathChoice {
public:
    PathChoice(PathDialogMode mode, const QString& editorPath, const QString& configPath);

    PathDialogMode mode() const { return m_mode; }
    QString caption() const;
    // The red prompt: a line break, then "Path select =" or "Path Save =".
    QString prompt() const;
    // The editable path field is shown only when saving a configuration.
    bool showsPathField() const { return m_mode == PathDialogMode::SaveConfiguration; }

    const QString& selectedPath() const { return m_selectedPath; }
    // What the path label shows.
    const QString& pathLabel() const { return m_pathLabel; }
    bool firstChange() const { return m_firstChange; }
    FilePattern pattern() const { return m_pattern; }

    // The operator opened another directory. The first change applies the
    // mode's file pattern.
    void directoryChanged(const QString& dir);
    // The operator picked another drive while the directory list stood at
    // currentDir; directoryChanged follows when the drive can be read.
    void driveChanged(const QString& currentDir);
    // The operator clicked a file in dir (or highlighted it with the keys).
    void fileClicked(const QString& dir, const QString& name);
    // The operator took the highlight off the file list in dir: selectedPath
    // is the directory again, as after opening it.
    void fileDeselected(const QString& dir);
    // "Sure": takes the path field's text when saving a configuration; false
    // when selectedPath is empty or names a directory (ends with '/').
    bool sure(const QString& pathFieldText);

    static QString withSeparator(const QString& dir);
    static QString join(const QString& dir, const QString& name);

private:
    // selectedPath and the label name the directory itself.
    void pointAt(const QString& dir);

    PathDialogMode m_mode;
    QString m_selectedPath;
    QString m_pathLabel;
    bool m_firstChange = true;
    FilePattern m_pattern = FilePattern::All;
};

}  // namespace fbx::ui
