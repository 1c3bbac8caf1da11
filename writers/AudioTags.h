#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The descriptive tags an audio file carries over from its source. Texts are UTF-8; an empty
// text or a track number of 0 means absent.
struct AudioTags {
    std::string title;
    std::string artist;
    std::string album;
    std::uint32_t trackNumber = 0;
    std::string date;  // "YYYY" or "YYYY-MM-DD"
    std::string genre;
    std::string comment;

    bool Empty() const {
        return title.empty() && artist.empty() && album.empty() && trackNumber == 0 &&
               date.empty() && genre.empty() && comment.empty();
    }
};

// An ID3v2.3 tag (header and frames TIT2, TPE1, TALB, TRCK, TYER, TCON, COMM) to put in front of
// an MPEG audio stream; empty when there is nothing to say. Texts that Latin-1 cannot hold are
// written as UTF-16 with a byte order mark.
std::vector<uint8_t> BuildId3v23Tag(const AudioTags& tags);

// A RIFF "LIST" chunk of type "INFO" (INAM, IART, IPRD, ITRK, ICRD, IGNR, ICMT, as UTF-8 texts
// ended by a zero byte); empty when there is nothing to say.
std::vector<uint8_t> BuildInfoListChunk(const AudioTags& tags);
