#pragma once

#include <array>
#include <vector>

// One immutable copy of the engine's routing for the render callback:
// built by a publisher under the routing mutex, never changed afterwards,
// read only by the audio thread. The publisher that replaces it retires it
// to the engine's dead-wood list, which frees it once the render counter has
// moved two cycles on (no block can still hold it).
struct RoutingSnapshot {
    static constexpr int kNoChannel = -1;
    static constexpr int kLtcGeneratorChannel = -2;  // the virtual input "LTCGEN"
    static constexpr int kAuxBusCount = 4;

    std::vector<int> trackInputs;                 // per track an input channel, or one of the two above
    std::vector<std::vector<int>> trackOutputs;   // per track its direct outputs
    std::vector<int> mixOutputs;
    std::vector<int> comsOutputs;
    std::vector<int> monitorOutputs;
    std::vector<int> ltcGeneratorOutputs;
    std::array<std::vector<int>, kAuxBusCount> auxOutputs;
    int slateInput = kNoChannel;
    int com1Input = kNoChannel;
    int com2Input = kNoChannel;
    int ltcInput = kNoChannel;
};
