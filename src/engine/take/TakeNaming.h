#pragma once

#include <functional>
#include <string>
#include <vector>

// Take names: three capital letters and four digits (ABC0042), drawn from the
// configuration counter "recording.fileNumber". The digits run 0001..9999;
// every 9999 names the letters advance by one, wrapping from ZZZ to AAA. The
// letters start from a prefix made of the first three letters of a
// per-machine identifier, so two machines rarely hand out the same names.
//
// Threads: the take start (GUI thread) and the late-arm finalisation (ring
// writer thread) draw names; the writer state machine keeps them apart in
// time. The prefix is made once per process under std::call_once.

constexpr int kTakeNameDigitsPerLetterStep = 9999;
constexpr int kTakeNamePrefixLength = 3;

// Draws the next take name with this machine's prefix, advances the counter
// and saves the configuration file before the name is used.
std::string generateTakeName();
// The same draw with a chosen prefix (three letters 'A'..'Z').
std::string generateTakeName(const std::string& prefix);

// Fills the process-wide prefix from getMachineIdentifier().
void computeTakeNamePrefix();
// The process-wide prefix; computes it on first use.
const std::string& takeNamePrefix();

// The first three ASCII letters of `identifier`, upper-cased, padded with 'A'.
std::string takeNamePrefixFromIdentifier(const std::string& identifier);
// The name for counter value `fileNumber` with `prefix`. Pure.
std::string formatTakeName(const std::string& prefix, int fileNumber);

// This machine's identifier: the systemd machine id, the D-Bus machine id,
// the host name, or a fixed fallback, whichever is found first.
std::string getMachineIdentifier();
// The same search over chosen sources: the first file whose trimmed content is
// not empty, else `hostName` when not empty, else the fallback.
std::string machineIdentifierFrom(const std::vector<std::string>& identifierFiles, const std::string& hostName);

constexpr const char* kFallbackMachineIdentifier = "tonvale";

// Draws names until `nameInUse` says one is free, logging every name passed
// over, so a take file never replaces an earlier take's file (for instance
// after the configuration file was lost and the counter started again).
// Gives an empty name, and `reason`, when `maxDraws` names were all in use.
using TakeNameSource = std::function<std::string()>;
using TakeNameInUse = std::function<bool(const std::string& takeName)>;
constexpr int kMaxTakeNameDraws = 10000;
std::string drawUnusedTakeName(const TakeNameSource& draw, const TakeNameInUse& nameInUse, std::string& reason,
                               int maxDraws = kMaxTakeNameDraws);
