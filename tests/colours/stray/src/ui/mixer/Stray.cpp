// A dialog that spells its own colours: each line below must be reported.
const char* const kSheet = "QLabel { color: #888; }";
const char* const kToast = "QLabel { background-color: rgba(0, 150, 0, 200); }";
const char* const kShade = "#5a000000";

// Not colours: a character entity, a preprocessor word, a long hex number.
const char* const kEntity = "&#160;";
#define TONVALE_FIXTURE_ONLY 1
const unsigned kMask = 0x123456;
