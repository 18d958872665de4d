#include "PathChoice.h"

namespace fbx::ui {

PathChoice::PathChoice(PathDialogMode mode, const QString& editorPath, const QString& configPath)
    : m_mode(mode),
      m_selectedPath(mode == PathDialogMode::EditorPath ? editorPath : configPath),
      m_pathLabel(m_selectedPath) {}

QString PathChoice::caption() const {
    switch (m_mode) {
        case PathDialogMode::EditorPath:
            return QString(22, '*') + QStringLiteral("Editor") + QString(19, '*');
        case PathDialogMode::SaveConfiguration:
            return QString(15, '*') + QStringLiteral("Save Configuration") + QString(15, '*');
        case PathDialogMode::RestoreConfiguration:
            return QString(14, '*') + QStringLiteral("Restor Configuration") + QString(15, '*');
    }
    return {};
}

QString PathChoice::prompt() const {
    return m_mode == PathDialogMode::SaveConfiguration ? QStringLiteral("\nPath Save =")
                                                       : QStringLiteral("\nPath select =");
}

QString PathChoice::withSeparator(const QString& dir) {
    return dir.endsWith('/') ? dir : dir + '/';
}

QString PathChoice::join(const QString& dir, const QString& name) {
    return withSeparator(dir) + name;
}

void PathChoice::pointAt(const QString& dir) {
    m_selectedPath = withSeparator(dir);
    m_pathLabel = '\n' + m_selectedPath;
}

void PathChoice::directoryChanged(const QString& dir) {
    pointAt(dir);
    if (m_firstChange) {
        m_pattern =
            m_mode == PathDialogMode::EditorPath ? FilePattern::Executables : FilePattern::All;
        m_firstChange = false;
    }
}

void PathChoice::driveChanged(const QString& currentDir) { pointAt(currentDir); }

void PathChoice::fileClicked(const QString& dir, const QString& name) {
    m_selectedPath = join(dir, name);
    m_pathLabel = m_selectedPath;
}

void PathChoice::fileDeselected(const QString& dir) { pointAt(dir); }

bool PathChoice::sure(const QString& pathFieldText) {
    if (m_mode == PathDialogMode::SaveConfiguration) m_selectedPath = pathFieldText;
    return !m_selectedPath.isEmpty() && !m_selectedPath.endsWith('/');
}

}  // namespace fbx::ui
