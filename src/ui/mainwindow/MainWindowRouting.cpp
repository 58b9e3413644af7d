// The input and output matrices from the Routing menu. Both work live: each
// change in a matrix reaches the engine and the configuration at once, so a
// Cancel keeps what was changed while the dialog was open.
#include "ui/mainwindow/MainWindow.h"

#include "core/ConfigManager.h"
#include "core/DebugLog.h"
#include "core/settings/LtcKeys.h"
#include "core/settings/RoutingKeys.h"
#include "core/settings/TrackKeys.h"
#include "engine/AudioEngine_CoreAudio.h"
#include "ui/mixer/InputMatrixDialog.h"
#include "ui/mixer/OutputMatrixDialog.h"
#include "ui/mixer/PortList.h"
#include "ui/tools/LtcGeneratorDialog.h"
#include "ui/tools/TcAccuracyTestDialog.h"

#include <QLineEdit>

#include <map>

namespace {

constexpr int kDefaultTrackCount = 8;
constexpr const char* kNoInput = "(None)";

ConfigManager* config()
{
    return ConfigManager::getInstance();
}

std::vector<std::string> onePortList(const std::string& port)
{
    return port.empty() ? std::vector<std::string>{} : std::vector<std::string>{port};
}

// The engine's per-port states are not used for routing; one empty map per track.
std::vector<std::map<std::string, bool>> emptyStates(size_t tracks)
{
    return std::vector<std::map<std::string, bool>>(tracks);
}

} // namespace

void MainWindow::reapplyStoredOutputRouting(int trackCount)
{
    if (!engine_)
        return;
    std::vector<std::vector<std::string>> trackOutputs;
    for (size_t track = 0; track < static_cast<size_t>(std::max(trackCount, 0)); ++track)
        trackOutputs.push_back(onePortList(config()->getString(RoutingKeys::trackOutputKey(track), "")));
    engine_->applyOutputRouting(trackOutputs, emptyStates(trackOutputs.size()), engine_->getAvailableOutputChannels(),
                                {}, splitPortList(config()->getString(RoutingKeys::kMixOutput, "")),
                                splitPortList(config()->getString(RoutingKeys::kComsOutput, "")),
                                splitPortList(config()->getString(LtcKeys::kGeneratorOutput, "")));
}

void MainWindow::onInputMatrix()
{
    if (!requireEngine())
        return;
    const std::vector<std::string> inputPorts = engine_->getAvailableInputChannels();
    int trackCount = config()->getInt(TrackKeys::kCount, static_cast<int>(trackRows_.size()));
    if (trackCount < 1)
        trackCount = kDefaultTrackCount;
    std::vector<std::string> names;
    std::vector<std::vector<std::string>> routing;
    for (size_t track = 0; track < static_cast<size_t>(trackCount); ++track) {
        names.push_back(config()->getString(TrackKeys::nameKey(track), "Track " + std::to_string(track + 1)));
        const std::string input = config()->getString(RoutingKeys::trackInputKey(track), "");
        routing.push_back(input == kNoInput ? std::vector<std::string>{} : onePortList(input));
    }

    InputMatrixDialog dialog(inputPorts, trackCount, names, routing, this);
    connect(&dialog, &InputMatrixDialog::configurationChanged, this, [this, &dialog] { applyInputMatrixLive(dialog); });
    if (dialog.exec() == QDialog::Accepted)
        applyInputMatrixAccepted(dialog);
}

void MainWindow::applyInputMatrixLive(const InputMatrixDialog& dialog)
{
    if (!engine_)
        return;
    const std::vector<std::string> names = dialog.getTrackNames();
    const std::vector<std::vector<std::string>> matrix = dialog.getRoutingMatrix();
    const int count = dialog.getTrackCount();
    if (count != shownTrackCount_)
        rebuildTracksAndMixer(count, names);

    std::vector<std::string> inputs;
    for (const std::vector<std::string>& row : matrix)
        inputs.push_back(row.empty() ? std::string(kNoInput) : row.front());
    engine_->setInputRouting(inputs);

    const std::string ltcPort = dialog.getLtcInputPort();
    if (!ltcPort.empty())
        engine_->setLtcInputPort(ltcPort);
    engine_->setLtcInputEnabled(dialog.isLtcEnabled());

    // The engine resolves the slate and COM ports only when the outputs are
    // routed; a changed port is heard only after they are routed again.
    const bool talkbackPortsChanged = dialog.getSlateMicPort() != config()->getString(RoutingKeys::kSlateInput, "")
                                      || dialog.getComInput1Port() != config()->getString(RoutingKeys::kCom1Input, "")
                                      || dialog.getComInput2Port() != config()->getString(RoutingKeys::kCom2Input, "");
    engine_->setSlateMicPort(dialog.getSlateMicPort());
    engine_->setSlateMicInputEnabled(dialog.isSlateMicEnabled());
    engine_->setSlateMicGain(dialog.getSlateMicGain());
    engine_->setComInput1Port(dialog.getComInput1Port());
    engine_->setComInput1Enabled(dialog.isComInput1Enabled());
    engine_->setComInput2Port(dialog.getComInput2Port());
    engine_->setComInput2Enabled(dialog.isComInput2Enabled());

    storeInputMatrix(dialog, static_cast<int>(names.size()));

    if (talkbackPortsChanged)
        reapplyStoredOutputRouting(count);
}

void MainWindow::storeInputMatrix(const InputMatrixDialog& dialog, int trackCount)
{
    const std::vector<std::string> names = dialog.getTrackNames();
    const std::vector<std::vector<std::string>> matrix = dialog.getRoutingMatrix();
    for (size_t track = 0; track < names.size(); ++track) {
        config()->setString(TrackKeys::nameKey(track), names[track]);
        if (track < matrix.size())
            config()->setString(RoutingKeys::trackInputKey(track),
                                matrix[track].empty() ? kNoInput : matrix[track].front());
    }
    config()->setInt(TrackKeys::kCount, trackCount);
    config()->setBool(LtcKeys::kEnabled, dialog.isLtcEnabled());
    config()->setString(LtcKeys::kInput, dialog.getLtcInputPort());
    config()->setBool(RoutingKeys::kSlateEnabled, dialog.isSlateMicEnabled());
    config()->setString(RoutingKeys::kSlateInput, dialog.getSlateMicPort());
    config()->setInt(RoutingKeys::kSlateGain, dialog.getSlateMicGain());
    config()->setBool(RoutingKeys::kCom1Enabled, dialog.isComInput1Enabled());
    config()->setString(RoutingKeys::kCom1Input, dialog.getComInput1Port());
    config()->setBool(RoutingKeys::kCom2Enabled, dialog.isComInput2Enabled());
    config()->setString(RoutingKeys::kCom2Input, dialog.getComInput2Port());
    config()->saveConfig("");
}

void MainWindow::applyInputMatrixAccepted(const InputMatrixDialog& dialog)
{
    const std::vector<std::string> names = dialog.getTrackNames();
    const std::vector<std::vector<std::string>> matrix = dialog.getRoutingMatrix();
    const int count = dialog.getTrackCount();
    rebuildTracksAndMixer(count, names);

    storeInputMatrix(dialog, count);
    if (dialog.isLtcEnabled() && !dialog.getLtcInputPort().empty())
        engine_->setLtcInputPort(dialog.getLtcInputPort());
    engine_->setSlateMicPort(dialog.getSlateMicPort());
    engine_->setSlateMicGain(dialog.getSlateMicGain());
    engine_->setComInput1Port(dialog.getComInput1Port());
    engine_->setComInput2Port(dialog.getComInput2Port());

    std::vector<std::string> inputs;
    for (const std::vector<std::string>& row : matrix)
        inputs.push_back(row.empty() ? std::string() : row.front());
    engine_->setInputRouting(inputs);
    debugLog("Applied input routing: " + std::to_string(inputs.size()) + " tracks");

    // New tracks get their stored direct outputs; the monitor stays as it is.
    reapplyStoredOutputRouting(count);
}

void MainWindow::onOutputMatrix()
{
    if (!requireEngine())
        return;
    const std::vector<std::string> outputPorts = engine_->getAvailableOutputChannels();
    std::vector<std::string> names;
    std::vector<std::vector<std::string>> matrix;
    for (const TrackRow& row : trackRows_) {
        if (static_cast<int>(names.size()) >= shownTrackCount_)
            break;
        names.push_back(row.nameEdit != nullptr ? row.nameEdit->text().toStdString() : std::string());
        matrix.push_back(onePortList(config()->getString(RoutingKeys::trackOutputKey(names.size() - 1), "")));
    }
    const std::vector<std::map<std::string, std::string>> states(names.size());
    LtcEncoder* generator = ltcEncoder_.get();

    OutputMatrixDialog dialog(outputPorts, static_cast<int>(names.size()), names, matrix, states,
                              config()->getString(RoutingKeys::kMixOutput, ""),
                              config()->getString(RoutingKeys::kComsOutput, ""),
                              config()->getString(RoutingKeys::kMonitorOutput, ""),
                              config()->getString(LtcKeys::kGeneratorOutput, ""),
                              generator, this);
    connect(&dialog, &OutputMatrixDialog::routingApplied, this,
            [this, outputPorts, names](const std::vector<std::vector<std::string>>& routingMatrix,
                                       const std::vector<std::map<std::string, std::string>>&,
                                       const std::string& mix, const std::string& coms, const std::string& monitor,
                                       const std::string& ltcGen) {
                config()->setString(LtcKeys::kGeneratorOutput, ltcGen);
                storeOutputMatrix(routingMatrix, mix, coms, monitor);
                applyOutputMatrix(routingMatrix, outputPorts, names, mix, coms, monitor, ltcGen);
            });
    connect(&dialog, &OutputMatrixDialog::configurationChanged, this, [this, &dialog, outputPorts, names] {
        const std::vector<std::vector<std::string>> routingMatrix = dialog.getRoutingMatrix();
        const std::string mix = dialog.getMixOutputPort();
        const std::string coms = dialog.getComsOutputPort();
        const std::string monitor = dialog.getMonitorOutputPort();
        applyOutputMatrix(routingMatrix, outputPorts, names, mix, coms, monitor, dialog.getLtcGenOutputPort());
        // The generator's output is stored only when the routing is applied.
        storeOutputMatrix(routingMatrix, mix, coms, monitor);
    });
    dialog.exec();
}

void MainWindow::storeOutputMatrix(const std::vector<std::vector<std::string>>& routingMatrix, const std::string& mix,
                                   const std::string& coms, const std::string& monitor)
{
    for (size_t track = 0; track < routingMatrix.size(); ++track) {
        // One port per track is kept; further ones play until the next start. An
        // emptied row clears the key, or the next rerouting would bring it back.
        const std::vector<std::string>& row = routingMatrix[track];
        config()->setString(RoutingKeys::trackOutputKey(track), row.empty() ? std::string() : row.front());
    }
    config()->setString(RoutingKeys::kMixOutput, mix);
    config()->setString(RoutingKeys::kComsOutput, coms);
    config()->setString(RoutingKeys::kMonitorOutput, monitor);
    config()->saveConfig("");
}

void MainWindow::applyOutputMatrix(const std::vector<std::vector<std::string>>& routingMatrix,
                                   const std::vector<std::string>& outputPorts,
                                   const std::vector<std::string>& trackNames, const std::string& mix,
                                   const std::string& coms, const std::string& monitor, const std::string& ltcGen)
{
    if (!engine_)
        return;
    engine_->applyOutputRouting(routingMatrix, emptyStates(routingMatrix.size()), outputPorts, trackNames,
                                splitPortList(mix), splitPortList(coms), splitPortList(ltcGen));
    if (auto* coreAudio = dynamic_cast<AudioEngine_CoreAudio*>(engine_.get()))
        coreAudio->setMonitorOutputRouting(splitPortList(monitor), outputPorts);
}

void MainWindow::dropEngineForTest()
{
    shutDownEngineAndItsTools();
    engine_.reset();
}
