#include "core/settings/DemoKeys.h"

// The check refuses line 10, line 12 twice (a call and a prefix) and line 15,
// and lets the rest pass: "demo.volume" in a comment, the catalogue's
// constants, a default's text, and literals that are not keys.
void demo(ConfigManager* config)
{
    config->getString(DemoKeys::kVolume, DemoKeys::kVolumeDefault);
    config->setString(DemoKeys::kVolume, "demo.loud");
    config->setInt("demo.other", 1);
    /* config->getInt("demo.commented", 0); */
    config->getInt(key("demo.level.",
                       2),
                   0);
    const char* spelled = "demo.volume";
    debugLog("demo.volume is stored");
}
