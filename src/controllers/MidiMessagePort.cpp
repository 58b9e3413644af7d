#include "controllers/MidiMessagePort.h"

MidiMessagePort::~MidiMessagePort() = default;
