#include "PlainAccessible.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QWidget>

namespace fbx::ui {

namespace {

constexpr char kPlainAccessible[] = "fbxPlainAccessible";

QAccessibleInterface* plainTextArea(const QString&, QObject* object) {
    auto* widget = qobject_cast<QWidget*>(object);
    if (!widget || !widget->property(kPlainAccessible).toBool()) return nullptr;
    return new QAccessibleWidget(widget, QAccessible::EditableText, "Program text");
}

}  // namespace

void describeAsPlainText(QWidget* textArea) {
    textArea->setProperty(kPlainAccessible, true);
    // A factory installed later is asked first, so this one is installed
    // once the first text area (and with it QScintilla's factory) exists.
    static const bool installed = (QAccessible::installFactory(plainTextArea), true);
    (void)installed;
}

}  // namespace fbx::ui
