#include "support/GuiLatenessProbe.h"

#include <algorithm>

GuiLatenessProbe::GuiLatenessProbe()
{
    timer_.setTimerType(Qt::PreciseTimer);
    timer_.setInterval(kPeriodMs);
    QObject::connect(&timer_, &QTimer::timeout, this, [this] { tick(); });
}

void GuiLatenessProbe::start()
{
    worstLateMs_ = 0;
    ticks_ = 0;
    clock_.start();
    lastTickMs_ = 0;
    timer_.start();
}

void GuiLatenessProbe::stop()
{
    timer_.stop();
    tick();
}

void GuiLatenessProbe::tick()
{
    const qint64 nowMs = clock_.elapsed();
    worstLateMs_ = std::max(worstLateMs_, nowMs - lastTickMs_ - kPeriodMs);
    lastTickMs_ = nowMs;
    ++ticks_;
}
