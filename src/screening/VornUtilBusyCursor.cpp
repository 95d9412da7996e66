#include "screening/VornUtilBusyCursor.h"

#include <QCursor>
#include <QGuiApplication>

#include "platform/SystemServices.h"

namespace gatemoor {

TBusyCursor::TBusyCursor() {
    // Only the main thread may touch the cursor, and only a GUI application has one.
    if (!platform::IsMainThread() || !qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return;
    QGuiApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
    shown_ = true;
}

TBusyCursor::~TBusyCursor() {
    if (shown_) QGuiApplication::restoreOverrideCursor();
}

}  // namespace gatemoor
