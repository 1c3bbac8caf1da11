#include "RememberedSelections.h"

#include "ProfileStore.h"

namespace {

int Read(const char* name, int missing) {
    return CProfileStore::GetInt(RememberedSelections::kSection, name, missing);
}

void Write(const char* name, int value) {
    CProfileStore::SetInt(RememberedSelections::kSection, name, value);
}

void SelectIn(ISelectionList* list, int position) {
    if (list) list->Select(position);
}

// A stored 0 for a frame size or frame rate stands for the list's default entry.
int OrDefault(int position, int defaultPosition) {
    return position == 0 ? defaultPosition : position;
}

int SelectedIn(const ISelectionList* list, int unchanged) {
    return list ? list->Selected() : unchanged;
}

}  // namespace

void RememberedSelections::Load(AudioParams& audio) {
    aviHeight = Read("AviHeight", 0);
    aviWidth = Read("AviWidth", 0);
    aviVideo = Read("AviVideo", 0);
    aviAudio = Read("AviAudio", 0);
    aviFrameRate = Read("AviFrameRate", 0);
    mpegHeight = Read("MpegHeight", 0);
    mpegWidth = Read("MpegWidth", 0);
    mpegType = Read("MpegType", 0);
    mpegFormat = Read("MpegFormat", 0);
    mpegFrameRate = Read("MpegFrameRate", 0);
    wavAudio = Read("WavAudio", 0);
    wavAudioSet = Read("WavAudioSet", -1);
    audio.formatIndex = wavAudioSet;
}

void RememberedSelections::Restore(OutputFormat format, const SelectionLists& lists) const {
    switch (format) {
        case WavMp3:
            SelectIn(lists.audioList, wavAudio);
            break;
        case Avi:
            SelectIn(lists.width, OrDefault(aviWidth, kDefaultWidthPosition));
            SelectIn(lists.height, OrDefault(aviHeight, kDefaultHeightPosition));
            SelectIn(lists.videoList, aviVideo);
            SelectIn(lists.audioList, aviAudio);
            SelectIn(lists.frameRate, OrDefault(aviFrameRate, kDefaultAviFrameRatePosition));
            break;
        case Mpeg:
            SelectIn(lists.videoList, mpegType);
            SelectIn(lists.audioList, mpegFormat);
            SelectIn(lists.width, OrDefault(mpegWidth, kDefaultWidthPosition));
            SelectIn(lists.height, OrDefault(mpegHeight, kDefaultHeightPosition));
            SelectIn(lists.frameRate, OrDefault(mpegFrameRate, kDefaultMpegFrameRatePosition));
            break;
    }
}

void RememberedSelections::Capture(OutputFormat format, const SelectionLists& lists,
                                   const AudioParams& audio) {
    switch (format) {
        case WavMp3:
            wavAudio = SelectedIn(lists.audioList, wavAudio);
            wavAudioSet = audio.formatIndex;
            break;
        case Avi:
            aviWidth = SelectedIn(lists.width, aviWidth);
            aviHeight = SelectedIn(lists.height, aviHeight);
            aviVideo = SelectedIn(lists.videoList, aviVideo);
            aviAudio = SelectedIn(lists.audioList, aviAudio);
            aviFrameRate = SelectedIn(lists.frameRate, aviFrameRate);
            break;
        case Mpeg:
            mpegType = SelectedIn(lists.videoList, mpegType);
            mpegFormat = SelectedIn(lists.audioList, mpegFormat);
            mpegWidth = SelectedIn(lists.width, mpegWidth);
            mpegHeight = SelectedIn(lists.height, mpegHeight);
            mpegFrameRate = SelectedIn(lists.frameRate, mpegFrameRate);
            break;
    }
}

void RememberedSelections::Save(OutputFormat format) const {
    switch (format) {
        case WavMp3:
            Write("WavAudio", wavAudio);
            Write("WavAudioSet", wavAudioSet);
            break;
        case Avi:
            Write("AviHeight", aviHeight);
            Write("AviWidth", aviWidth);
            Write("AviVideo", aviVideo);
            Write("AviAudio", aviAudio);
            Write("AviFrameRate", aviFrameRate);
            break;
        case Mpeg:
            Write("MpegHeight", mpegHeight);
            Write("MpegWidth", mpegWidth);
            Write("MpegType", mpegType);
            Write("MpegFormat", mpegFormat);
            Write("MpegFrameRate", mpegFrameRate);
            break;
    }
}
