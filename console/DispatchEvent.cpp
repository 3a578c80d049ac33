#include "console/DispatchEvent.h"

#include <QCoreApplication>

namespace console {

void PostDispatch(QObject* target, int code, int64_t argument) {
    QCoreApplication::postEvent(target, new TDispatchEvent(code, argument));
}

}  // namespace console
