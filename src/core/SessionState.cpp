#include "core/SessionState.h"

Track::Track(int trackId, const std::string& trackName)
    : id(trackId)
    , name(trackName)
{
}

void SessionState::addTrack(std::shared_ptr<Track> track)
{
    tracks.push_back(std::move(track));
    modified = true;
}

void SessionState::removeTrack(int index)
{
    if (index < 0 || index >= static_cast<int>(tracks.size()))
        return;
    tracks.erase(tracks.begin() + index);
    modified = true;
}

std::shared_ptr<Track> SessionState::getTrack(int index) const
{
    if (index < 0 || index >= static_cast<int>(tracks.size()))
        return {};
    return tracks[static_cast<std::size_t>(index)];
}
