#pragma once

#include <QIcon>
#include <QString>

namespace fbx::ui {

// The editor toolbar's image list (ImageList1), drawn when first asked for:
// "Open", "Save", "Print", "Cut", "Copy", "Paste", "Undo", "Preview",
// "Setting". An unknown name gives an empty icon.
QIcon EditorImage(const QString& name);

}  // namespace fbx::ui
