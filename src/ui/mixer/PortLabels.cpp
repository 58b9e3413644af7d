#include "ui/mixer/PortLabels.h"

#include "core/ConfigManager.h"
#include "core/settings/RoutingKeys.h"

#include <QInputDialog>
#include <QLineEdit>

#include <array>
#include <utility>

namespace PortLabels {
namespace {

// Order matters where one pattern contains another ("Universal Audio" before
// "Audio", "Audio Interface" before "Interface").
const std::array<std::pair<const char*, const char*>, 28> kAbbreviations{{
    {"Focusrite", "Foc"},   {"Scarlett", "Scar"}, {"Clarett", "Clar"},     {"RedNet", "RN"},
    {"Apogee", "Apo"},      {"Symphony", "Sym"},  {"Universal Audio", "UA"}, {"RME", "RME"},
    {"Fireface", "FF"},     {"MOTU", "MOTU"},     {"Antelope", "Ant"},     {"Avid", "Avid"},
    {"PreSonus", "PS"},     {"Behringer", "Beh"}, {"M-Audio", "MA"},       {"Steinberg", "Stb"},
    {"Roland", "Rol"},      {"Yamaha", "Yam"},    {"Tascam", "Tas"},       {"Audio Interface", ""},
    {"Interface", ""},      {"Audio", ""},        {"USB", ""},             {"Thunderbolt", ""},
    {"PCIe", ""},           {"Aggregate", "Agg"}, {"Device", ""},          {"  ", " "},
}};

AliasQuestion& testQuestion()
{
    static AliasQuestion question;
    return question;
}

std::string asciiLower(std::string text)
{
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

void replaceAll(std::string& text, const std::string& pattern, const std::string& replacement)
{
    size_t position = text.find(pattern);
    while (position != std::string::npos) {
        text.replace(position, pattern.size(), replacement);
        position = text.find(pattern, position + replacement.size());
    }
}

std::string trimBlanks(const std::string& text)
{
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return {};
    const size_t last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

// The largest cut of at most maxBytes that does not split a UTF-8 sequence:
// a continuation byte (10xxxxxx) at the cut belongs to the character before.
size_t wholeCharacterCut(const std::string& text, size_t maxBytes)
{
    if (maxBytes >= text.size())
        return text.size();
    size_t cut = maxBytes;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
        --cut;
    return cut;
}

// Splits off " Ch n", " Input n" (as " In n") or " Output n" (as " Out n").
void splitChannelSuffix(const std::string& text, std::string& name, std::string& suffix)
{
    name = text;
    suffix.clear();
    size_t at = std::string::npos;
    if (text.size() >= 4 && (at = text.rfind(" Ch ")) != std::string::npos) {
        suffix = text.substr(at);
    } else if (text.size() >= 7 && (at = text.rfind(" Input ")) != std::string::npos) {
        suffix = " In" + text.substr(at + 6);
    } else if (text.size() >= 8 && (at = text.rfind(" Output ")) != std::string::npos) {
        suffix = " Out" + text.substr(at + 7);
    } else {
        return;
    }
    name = text.substr(0, at);
}

}  // namespace

std::string aliasKey(Side side, const std::string& port)
{
    return side == Side::Input ? RoutingKeys::inputLabelKey(port) : RoutingKeys::outputLabelKey(port);
}

std::string label(Side side, const std::string& port)
{
    const std::string alias = ConfigManager::getInstance()->getString(aliasKey(side, port), "");
    if (!alias.empty())
        return alias;
    const std::string lower = asciiLower(port);
    std::string result = port;
    size_t at = lower.find("dante rx");
    if (at != std::string::npos)
        return result.replace(at, 8, "DVS");
    at = lower.find("danterx");
    if (at != std::string::npos)
        return result.replace(at, 7, "DVS");
    return result;
}

void storeAlias(Side side, const std::string& port, const std::string& alias)
{
    ConfigManager::getInstance()->setString(aliasKey(side, port), alias.empty() ? port : alias);
}

std::string abbreviateChannelName(const std::string& label)
{
    std::string name;
    std::string suffix;
    splitChannelSuffix(label, name, suffix);
    for (const auto& [pattern, replacement] : kAbbreviations)
        replaceAll(name, pattern, replacement);
    name = trimBlanks(name);
    if (name.empty())
        return suffix;
    const size_t limit = kHeaderFormMaxBytes;
    if (name.size() + suffix.size() > limit && suffix.size() < limit)
        name.resize(wholeCharacterCut(name, limit - suffix.size()));
    return name + suffix;
}

QString columnHeaderText(const std::string& label)
{
    const QString form = QString::fromStdString(abbreviateChannelName(label));
    QString text;
    // One displayed character per line; a character outside the basic plane
    // is two UTF-16 units and stays whole.
    for (qsizetype i = 0; i < form.size(); ++i) {
        if (!text.isEmpty())
            text += '\n';
        text += form[i];
        if (form[i].isHighSurrogate() && i + 1 < form.size())
            text += form[++i];
    }
    return text;
}

QString comboEntryText(Side side, const std::string& port)
{
    const std::string shown = label(side, port);
    if (!shown.empty() && shown != port)
        return QString::fromStdString(shown) + " (" + QString::fromStdString(port) + ")";
    return QString::fromStdString(port);
}

void setAliasQuestionForTests(AliasQuestion question)
{
    testQuestion() = std::move(question);
}

bool promptAndStoreAlias(QWidget* parent, Side side, const std::string& port)
{
    const bool input = side == Side::Input;
    const QString title = input ? "Edit Input Name" : "Edit Output Name";
    const QString prompt = QString(input ? "Input: %1\nEnter alias (leave empty to reset):"
                                         : "Output: %1\nEnter alias (leave empty to reset):")
                               .arg(QString::fromStdString(port));
    const std::string current = label(side, port);
    const QString prefill = current != port ? QString::fromStdString(current) : QString();

    std::optional<QString> answer;
    if (testQuestion()) {
        answer = testQuestion()(parent, title, prompt, prefill);
    } else {
        bool ok = false;
        const QString text = QInputDialog::getText(parent, title, prompt, QLineEdit::Normal, prefill, &ok);
        if (ok)
            answer = text;
    }
    if (!answer)
        return false;
    storeAlias(side, port, answer->trimmed().toStdString());
    return true;
}

}  // namespace PortLabels
