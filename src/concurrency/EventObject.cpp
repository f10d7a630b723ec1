#include "concurrency/EventObject.h"

EventObject::EventObject(bool initiallySignalled, bool manualReset, const char* name)
    : handle(name == nullptr ? platform::createEvent(manualReset, initiallySignalled) : nullptr)
{
}

EventObject::~EventObject()
{
    platform::closeEvent(handle);
}

void EventObject::set()
{
    platform::setEvent(handle);
}

void EventObject::reset()
{
    platform::resetEvent(handle);
}
