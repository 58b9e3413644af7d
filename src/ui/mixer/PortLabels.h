#pragma once

#include <QString>

#include <functional>
#include <optional>
#include <string>

class QWidget;

// What the routing matrices show for a device port: a user alias kept in the
// configuration, else the port name with network-audio receiver names
// shortened to "DVS"; and a compact form of that label for the vertical
// column headers. Only the display changes: everything the dialogs hand on
// is the raw port name. GUI thread only; every call reads the configuration
// anew, so a changed alias shows as soon as a matrix rebuilds.
namespace PortLabels {

// Which family of alias keys a port belongs to.
enum class Side { Input, Output };

constexpr int kHeaderFormMaxBytes = 18;

// "input.label." or "output.label." followed by the port name, with every
// space, "/" and "\" made "_" (so "In 1/2" and "In 1 2" share one key).
std::string aliasKey(Side side, const std::string& port);
std::string label(Side side, const std::string& port);
// An empty alias stores the port name itself, which shows the full name.
void storeAlias(Side side, const std::string& port, const std::string& alias);

std::string abbreviateChannelName(const std::string& label);
// The header form with a line break between every two characters, so it reads
// top to bottom.
QString columnHeaderText(const std::string& label);
// "label (port)" when the label differs from the port, else the port.
QString comboEntryText(Side side, const std::string& port);

// The rename prompt. Answers the text the user confirmed (untrimmed) or
// nothing on cancel. Tests replace the question with an answerer.
using AliasQuestion = std::function<std::optional<QString>(QWidget* parent, const QString& title,
                                                           const QString& prompt, const QString& prefill)>;
void setAliasQuestionForTests(AliasQuestion question);
// Asks for the port's alias and stores the trimmed answer; false when the
// user cancelled (nothing stored).
bool promptAndStoreAlias(QWidget* parent, Side side, const std::string& port);

}  // namespace PortLabels
