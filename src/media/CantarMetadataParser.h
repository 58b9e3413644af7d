#pragma once

#include <string>
#include <string_view>
#include <vector>

// The key=value lines of a take's bext Description: user bits, scene, take,
// tape, speed, tag, note and one line per named track.
struct CantarMetadata {
    std::string userBits;  // as written; a leading "$" stays
    std::string scene;
    std::string take;
    std::string tape;      // sound roll
    std::string speed;     // frame rate as text, without its suffix
    std::string tag;       // the take writer puts the project name here
    std::string note;
    std::vector<std::string> trackNames;  // entry n - 1 holds track n
    bool dForm = false;    // the text used the "d" form for user bits or scene
};

// Parses and builds Description texts. Keys come plain ("SCENE"), in an "a"
// form ("aSCENE") and a "d" form ("dSCENE"), in any letter case. Static
// functions only, no state: any thread may call them.
class CantarMetadataParser {
public:
    // Track numbers above this are ignored: a WAV file holds at most 65535
    // channels, and a corrupt line must not make a huge track list.
    static constexpr int kMaxTrackNumber = 65535;

    // Lines split at line feeds; later lines overwrite earlier ones.
    static CantarMetadata parseDescription(const std::string& text);
    // Applies one key=value line; lines without "=" or with unknown keys are ignored.
    static void parseField(const std::string& line, CantarMetadata& record);
    // One line per non-empty field, each ended by "\n". The speed line
    // carries frameRate with 3 decimals when it is above 0, else the
    // record's speed text. Line breaks inside values become spaces, so a
    // value can never turn into another key line. The text is not cut.
    static std::string buildDescription(const CantarMetadata& record, double frameRate);
    // Without spaces, tabs, CRs and LFs at either end.
    static std::string trim(const std::string& text);
    static std::string_view trimView(std::string_view text);

private:
    static void parseLine(std::string_view line, CantarMetadata& record);
};
