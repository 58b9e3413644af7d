// The media handlers: media settings, recovery of unclosed takes and the
// exFAT format, with the write-access test of backup drives.
#include "MainWindowDrivesTestSupport.h"
