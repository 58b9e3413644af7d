#include "platform/audio/VirtualAudioDescription.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

namespace {

constexpr uint32_t kMaxChannelsPerDevice = 256;
constexpr uint32_t kMaxBufferFrames = 8192;

VirtualSignal tone(double frequencyHz, double levelDb)
{
    VirtualSignal signal;
    signal.kind = VirtualSignal::Kind::Tone;
    signal.frequencyHz = frequencyHz;
    signal.levelDb = levelDb;
    return signal;
}

VirtualSignal noise(double levelDb)
{
    VirtualSignal signal;
    signal.kind = VirtualSignal::Kind::Noise;
    signal.levelDb = levelDb;
    return signal;
}

VirtualSignal ltc(double levelDb)
{
    VirtualSignal signal;
    signal.kind = VirtualSignal::Kind::Ltc;
    signal.levelDb = levelDb;
    signal.framesPerSecond = 25.0;
    return signal;
}

VirtualDeviceDescription virtualInterface()
{
    VirtualDeviceDescription device;
    device.name = "Virtual Interface";
    device.uid = "tonvale.virtual.interface";
    device.inputStreams = {8};
    device.outputStreams = {8};
    device.inputChannelNames = {"Tone 440 Hz -12 dB", "Tone 1 kHz -20 dB", "Tone 2.5 kHz -6 dB",
                                "Tone 100 Hz -30 dB",  "Noise -50 dB",      "Noise -70 dB",
                                "Silence",             "LTC 25 fps"};
    device.inputSignals = {tone(440.0, -12.0), tone(1000.0, -20.0), tone(2500.0, -6.0), tone(100.0, -30.0),
                           noise(-50.0),       noise(-70.0),        VirtualSignal{},   ltc(-18.0)};
    return device;
}

VirtualDeviceDescription virtualRecorder()
{
    VirtualDeviceDescription device;
    device.name = "Virtual Recorder";
    device.uid = "tonvale.virtual.recorder";
    device.inputStreams = {4};  // one interleaved stream, as field recorders deliver it
    device.inputSignals = {tone(1000.0, -18.0), tone(440.0, -24.0), noise(-60.0), ltc(-18.0)};
    return device;
}

VirtualDeviceDescription virtualOutput()
{
    VirtualDeviceDescription device;
    device.name = "Virtual Output";
    device.uid = "tonvale.virtual.output";
    device.outputStreams = {2};
    device.outputChannelNames = {"Left", "Right"};
    device.defaultOutput = true;
    return device;
}

bool readCount(const QJsonValue& value, uint32_t limit, uint32_t& count)
{
    if (!value.isDouble())
        return false;
    const double number = value.toDouble();
    if (number < 0 || number > limit || number != static_cast<double>(static_cast<uint32_t>(number)))
        return false;
    count = static_cast<uint32_t>(number);
    return true;
}

// "inputs": n or "inputStreams": [a, b]; neither means no channels.
bool readStreams(const QJsonObject& object, const QString& countKey, const QString& streamsKey,
                 std::vector<uint32_t>& streams, std::string& error)
{
    streams.clear();
    if (object.contains(streamsKey)) {
        const QJsonValue value = object.value(streamsKey);
        if (!value.isArray()) {
            error = streamsKey.toStdString() + " must be an array of channel counts";
            return false;
        }
        uint32_t total = 0;
        for (const QJsonValue& entry : value.toArray()) {
            uint32_t channels = 0;
            if (!readCount(entry, kMaxChannelsPerDevice, channels) || channels == 0) {
                error = streamsKey.toStdString() + " holds a stream that is not 1 to 256 channels";
                return false;
            }
            total += channels;
            streams.push_back(channels);
        }
        if (total > kMaxChannelsPerDevice) {
            error = streamsKey.toStdString() + " holds more than 256 channels";
            return false;
        }
        return true;
    }
    if (object.contains(countKey)) {
        uint32_t channels = 0;
        if (!readCount(object.value(countKey), kMaxChannelsPerDevice, channels)) {
            error = countKey.toStdString() + " must be a channel count from 0 to 256";
            return false;
        }
        if (channels > 0)
            streams.push_back(channels);
    }
    return true;
}

std::vector<std::string> readStrings(const QJsonValue& value)
{
    std::vector<std::string> strings;
    for (const QJsonValue& entry : value.toArray())
        strings.push_back(entry.toString().toStdString());
    return strings;
}

bool readSignal(const QJsonValue& value, VirtualSignal& signal, std::string& error)
{
    const QJsonObject object = value.toObject();
    const QString type = object.value("type").toString();
    signal = VirtualSignal{};
    if (type == "silence")
        signal.kind = VirtualSignal::Kind::Silence;
    else if (type == "tone")
        signal.kind = VirtualSignal::Kind::Tone;
    else if (type == "noise")
        signal.kind = VirtualSignal::Kind::Noise;
    else if (type == "ltc")
        signal.kind = VirtualSignal::Kind::Ltc;
    else {
        error = "unknown input signal type '" + type.toStdString() + "'";
        return false;
    }
    signal.frequencyHz = object.value("frequencyHz").toDouble(signal.frequencyHz);
    signal.levelDb = object.value("levelDb").toDouble(signal.levelDb);
    signal.framesPerSecond = object.value("fps").toDouble(signal.framesPerSecond);
    if (signal.frequencyHz <= 0 || signal.levelDb > 0 || signal.framesPerSecond <= 0) {
        error = "input signal needs a positive frequency and fps and a level at or below 0 dBFS";
        return false;
    }
    return true;
}

bool readDevice(const QJsonObject& object, VirtualDeviceDescription& device, std::string& error)
{
    device.name = object.value("name").toString().toStdString();
    device.uid = object.value("uid").toString().toStdString();
    if (!readStreams(object, "inputs", "inputStreams", device.inputStreams, error)
        || !readStreams(object, "outputs", "outputStreams", device.outputStreams, error))
        return false;
    device.inputChannelNames = readStrings(object.value("inputNames"));
    device.outputChannelNames = readStrings(object.value("outputNames"));
    device.subDeviceUids = readStrings(object.value("subDevices"));
    for (const QJsonValue& entry : object.value("inputSignals").toArray()) {
        VirtualSignal signal;
        if (!readSignal(entry, signal, error))
            return false;
        device.inputSignals.push_back(signal);
    }
    device.sampleRate = object.value("sampleRate").toDouble(device.sampleRate);
    if (device.sampleRate < 8000.0 || device.sampleRate > 384000.0) {
        error = "sampleRate must be between 8000 and 384000";
        return false;
    }
    if (object.contains("bufferFrames")
        && (!readCount(object.value("bufferFrames"), kMaxBufferFrames, device.bufferFrameSize)
            || device.bufferFrameSize == 0)) {
        error = "bufferFrames must be 1 to 8192";
        return false;
    }
    for (const QJsonValue& entry : object.value("bufferFrameSizes").toArray()) {
        uint32_t frames = 0;
        if (!readCount(entry, kMaxBufferFrames, frames) || frames == 0) {
            error = "bufferFrameSizes must hold sizes from 1 to 8192";
            return false;
        }
        device.supportedBufferFrameSizes.push_back(frames);
    }
    device.defaultOutput = object.value("defaultOutput").toBool(false);
    return true;
}

}  // namespace

VirtualAudioDescription VirtualAudioDescription::builtInDefault()
{
    VirtualAudioDescription description;
    description.devices = {virtualInterface(), virtualRecorder(), virtualOutput()};
    return description;
}

bool VirtualAudioDescription::fromJson(const std::string& jsonText, VirtualAudioDescription& description,
                                       std::string& error)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromStdString(jsonText), &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        error = "not valid JSON: " + parseError.errorString().toStdString();
        return false;
    }
    if (!document.isObject() || !document.object().value("devices").isArray()) {
        error = "the description needs a \"devices\" array";
        return false;
    }
    VirtualAudioDescription parsed;
    const QJsonArray devices = document.object().value("devices").toArray();
    for (qsizetype index = 0; index < devices.size(); ++index) {
        VirtualDeviceDescription device;
        if (!devices.at(index).isObject() || !readDevice(devices.at(index).toObject(), device, error)) {
            error = "device " + std::to_string(index + 1) + ": "
                    + (error.empty() ? std::string("not an object") : error);
            return false;
        }
        parsed.devices.push_back(std::move(device));
    }
    description = std::move(parsed);
    return true;
}

bool VirtualAudioDescription::fromFile(const std::string& path, VirtualAudioDescription& description,
                                       std::string& error)
{
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::ReadOnly)) {
        error = "cannot open " + path + ": " + file.errorString().toStdString();
        return false;
    }
    return fromJson(file.readAll().toStdString(), description, error);
}
