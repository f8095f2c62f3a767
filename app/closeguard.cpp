#include "app/closeguard.h"

#include <QEvent>
#include <QWidget>

#include "link/paramexchange.h"

CloseGuard::CloseGuard(QWidget &window, const ParamExchange &link) : window_(window), link_(link)
{
    window_.installEventFilter(this);
}

bool CloseGuard::writing() const
{
    const std::uint8_t c = link_.commandCode;
    return c == WRITE_PARAM_1 || c == WRITE_PARAM_2 || c == WRITE_PARAM_3 || link_.saveRequest == kSaveRequested;
}

bool CloseGuard::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == &window_ && event->type() == QEvent::Close) {
        closeWanted_ = writing();
        if (closeWanted_) {
            event->ignore();
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

void CloseGuard::afterTick()
{
    if (closeWanted_ && !writing()) {
        closeWanted_ = false;
        window_.close();
    }
}
