#include "controllers/MidiControllerBase.h"

MidiControllerBase::~MidiControllerBase() = default;
