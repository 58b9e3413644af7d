#pragma once

#include "media/BwfMetadataReader.h"

#include <string>

// Changes the metadata of an existing WAV or RF64 file in place: the bext
// Description and TimeReference and the text of the iXML chunk where they
// already lie. It never grows, shrinks or moves a chunk and never writes
// outside a bext or iXML body, so the audio cannot be touched.
//
// Every edit is worked out before anything is written: when a chunk that is
// present cannot take its edit (an iXML document that would outgrow its
// chunk, a bext too short for its fields, a body that runs past the end of
// the file), nothing is written and the result is false with a reason. A
// chunk that is missing is skipped.
//
// Static functions without state; the caller must not edit a file that a
// writer or another edit has open.
class BwfMetadataWriter {
public:
    // Uses scene, tape, take, note, project, userBits, timeReference, circled,
    // wildTrack and tracks of `wanted`; an empty text keeps the file's value,
    // a timeReference of 0 keeps the file's. True when nothing needed
    // changing (the file is then not opened) or every needed edit was
    // written. Throws std::filesystem::filesystem_error when the path does
    // not exist.
    static bool writeMetadata(const std::string& path, const BwfMetadata& wanted, std::string& reason);
    static bool writeMetadata(const std::string& path, const BwfMetadata& wanted);

    // Applies the iXML part of the edit to a document (the chunk's body
    // without the NULs after it: they are room an edit may fill). False with a reason when an element
    // that must be inserted finds no "</BWFXML>" or a time reference cannot
    // be stored in the elements the document has. Values are written
    // escaped and compared unescaped.
    static bool editIxmlDocument(std::string& document, const BwfMetadata& current, const BwfMetadata& wanted,
                                 std::string& reason);
};
